// Hex dumps of byte arrays, sixteen bytes a line with offsets and printable text.
#include <varonet/base/detail/HexDump.h>

namespace Base {

String HexDump::dump(const ByteArray& bytes) { return dump(bytes.chars(), bytes.size()); }

String HexDump::dump(const char* data, std::size_t length) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve((length / 16 + 1) * 76);
    for (std::size_t line = 0; line < length; line += 16) {
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(line >> shift) & 15];
        out += "  ";
        for (std::size_t i = 0; i < 16; ++i) {
            if (line + i < length) {
                auto b = static_cast<unsigned char>(data[line + i]);
                out += hex[b >> 4];
                out += hex[b & 15];
                out += ' ';
            } else {
                out += "   ";
            }
        }
        out += ' ';
        for (std::size_t i = 0; i < 16 && line + i < length; ++i) {
            auto b = static_cast<unsigned char>(data[line + i]);
            out += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
        }
        out += '\n';
    }
    return String(std::move(out));
}

}  // namespace Base
