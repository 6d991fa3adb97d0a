// StreamLogger: one readable line per logged string, byte array, event or error.
#include <varonet/base/Logger.h>

#include <ostream>

#include <varonet/base/detail/HexDump.h>

namespace Log {

namespace {
// Control characters of a modem dialogue (CR, LF) shown as escapes so that one report stays one line.
std::string printable(const Base::String& text) {
    std::string out;
    for (unsigned char c : text.str()) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c == 0x7F) {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else out += static_cast<char>(c);
    }
    return out;
}
}  // namespace

void StreamLogger::logString(unsigned int id, const Base::String& text, int level) {
    Thread::Synchronized guard(mMutex);
    mrOut << "[" << id << "/" << level << "] " << printable(text) << "\n";
}

void StreamLogger::logArray(unsigned int id, const Base::ByteArray& bytes, int level) {
    Thread::Synchronized guard(mMutex);
    mrOut << "[" << id << "/" << level << "] " << bytes.size() << " bytes\n" << Base::HexDump::dump(bytes).str();
}

void StreamLogger::logEvent(unsigned int id, int level) {
    Thread::Synchronized guard(mMutex);
    mrOut << "[" << id << "/" << level << "] event\n";
}

void StreamLogger::logError(unsigned int code, int level) {
    Thread::Synchronized guard(mMutex);
    mrOut << "[error/" << level << "] code " << code << "\n";
}

}  // namespace Log
