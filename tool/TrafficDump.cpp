// Tool::TrafficDump: the -x (hex) and -v (text) dumps of what cat, term and relay move.
#include "TrafficDump.h"

#include <mutex>
#include <string>

namespace Tool {

namespace {
std::mutex gDumpMutex;
}

void TrafficDump::show(char mark, const char* data, std::size_t length) {
    if (meMode == Off || length == 0) return;
    std::lock_guard<std::mutex> guard(gDumpMutex);
    unsigned long long& offset = mOffsets[mark == '<' ? 1 : 0];
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::string out;
    char head[32];
    if (meMode == Hex) {
        for (std::size_t line = 0; line < length; line += 16) {
            std::snprintf(head, sizeof head, "%c %08llx ", mark, offset + line);
            out += head;
            std::string text;
            for (std::size_t i = line; i < line + 16; ++i) {
                if (i < length) {
                    std::snprintf(head, sizeof head, " %02x", bytes[i]);
                    out += head;
                    text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
                } else {
                    out += "   ";
                }
            }
            out += "  " + text + "\n";
        }
    } else {
        // One line per received line of text; control bytes as escapes.
        bool lineStart = true;
        for (std::size_t i = 0; i < length; ++i) {
            if (lineStart) {
                std::snprintf(head, sizeof head, "%c %08llx  ", mark, offset + i);
                out += head;
                lineStart = false;
            }
            unsigned char c = bytes[i];
            if (c == '\n') out += "\\n\n", lineStart = true;
            else if (c == '\r') out += "\\r";
            else if (c == '\t') out += "\\t";
            else if (c == '\\') out += "\\\\";
            else if (c < 0x20 || c >= 0x7F) {
                std::snprintf(head, sizeof head, "\\x%02x", c);
                out += head;
            } else out += static_cast<char>(c);
        }
        if (!lineStart) out += "\n";
    }
    offset += length;
    std::fwrite(out.data(), 1, out.size(), mpOut);
    std::fflush(mpOut);
}

}  // namespace Tool
