// BCD packing and unpacking of decimal values, and hexadecimal text of byte arrays.
#include <varonet/base/detail/Bcd.h>

namespace Math {

Base::ByteArray Bcd::pack(unsigned int digits) const {
    unsigned int bytes = (digits + 1) / 2;
    Base::ByteArray out(bytes);
    std::uint64_t v = muValue;
    for (unsigned int i = bytes; i-- > 0;) {
        unsigned lo = static_cast<unsigned>(v % 10);
        v /= 10;
        unsigned hi = static_cast<unsigned>(v % 10);
        v /= 10;
        out[i] = static_cast<unsigned char>((hi << 4) | lo);
    }
    return out;
}

std::uint64_t Bcd::unpack(const Base::ByteArray& bytes, bool* ok) {
    std::uint64_t v = 0;
    bool good = true;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned hi = bytes[i] >> 4, lo = bytes[i] & 15;
        if (hi > 9 || lo > 9) good = false;
        v = v * 100 + hi * 10 + lo;
    }
    if (ok) *ok = good;
    return v;
}

Base::String Hex::asString() const {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(mBytes.size() * 2);
    for (std::size_t i = 0; i < mBytes.size(); ++i) {
        out += hex[mBytes[i] >> 4];
        out += hex[mBytes[i] & 15];
    }
    return Base::String(std::move(out));
}

Base::ByteArray Hex::parse(const Base::String& text, bool* ok) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Base::ByteArray out;
    bool good = text.length() % 2 == 0;
    for (std::size_t i = 0; good && i + 1 < text.length(); i += 2) {
        int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) good = false;
        else out.append(static_cast<unsigned char>(hi * 16 + lo));
    }
    if (ok) *ok = good;
    return good ? out : Base::ByteArray();
}

}  // namespace Math
