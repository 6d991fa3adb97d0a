// ZModem::FileOffer: the ZFILE subpacket, written and read.
#include <varonet/zmodem/detail/FileOffer.h>

#include <cstdio>

namespace ZModem {

namespace {
// The number at i in base (8 or 10) after any spaces, at most digits long;
// i moves past it. Nothing when no digit is there.
std::optional<long long> number(const Base::ByteArray& bytes, std::size_t& i, int base, int digits) {
    while (i < bytes.size() && bytes[i] == ' ') ++i;
    long long value = 0;
    int count = 0;
    for (; i < bytes.size() && count < digits && bytes[i] >= '0' && bytes[i] < '0' + base; ++count)
        value = value * base + (bytes[i++] - '0');
    if (count == 0) return std::nullopt;
    return value;
}
}  // namespace

Base::ByteArray FileOffer::encode(bool full) const {
    Base::ByteArray bytes;
    bytes.append(name.data(), name.length());
    bytes.append(static_cast<unsigned char>(0));
    char text[128];
    int n =
        full ? std::snprintf(text, sizeof text, "%lld %llo %o 0 %d %lld", size,
                             static_cast<unsigned long long>(mtime.value_or(0)), mode.value_or(0), filesLeft, bytesLeft)
             : std::snprintf(text, sizeof text, "%lld", size);
    bytes.append(text, static_cast<std::size_t>(n));
    if (full) bytes.append(static_cast<unsigned char>(0));
    return bytes;
}

FileOffer FileOffer::parse(const Base::ByteArray& bytes) {
    FileOffer offer;
    std::size_t i = 0;
    Base::String name("");
    while (i < bytes.size() && bytes[i] != 0) name += static_cast<char>(bytes[i++]);
    offer.name = name;
    ++i;
    offer.size = number(bytes, i, 10, 15).value_or(0);
    if (auto mtime = number(bytes, i, 8, 20)) {
        offer.mtime = *mtime;
        if (auto mode = number(bytes, i, 8, 8)) offer.mode = static_cast<unsigned int>(*mode);
    }
    return offer;
}

}  // namespace ZModem
