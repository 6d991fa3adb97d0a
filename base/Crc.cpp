#include "base/Crc.h"

#include <array>

namespace Math {

namespace {
struct Tables {
    std::array<std::array<std::uint16_t, 256>, 8> iso{};  // slicing-by-8
    std::array<std::uint16_t, 256> xmodem{};
    std::array<std::array<std::uint32_t, 256>, 8> crc32{};  // slicing-by-8
    Tables() {
        for (unsigned n = 0; n < 256; ++n) {
            std::uint32_t r = n;
            for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0x8408u : r >> 1;
            iso[0][n] = static_cast<std::uint16_t>(r);
            std::uint32_t x = n << 8;
            for (int k = 0; k < 8; ++k) x = (x & 0x8000u) ? ((x << 1) ^ 0x1021u) : (x << 1);
            xmodem[n] = static_cast<std::uint16_t>(x);
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            crc32[0][n] = c;
        }
        for (unsigned n = 0; n < 256; ++n)
            for (int t = 1; t < 8; ++t) {
                crc32[t][n] = (crc32[t - 1][n] >> 8) ^ crc32[0][crc32[t - 1][n] & 0xFF];
                iso[t][n] = static_cast<std::uint16_t>((iso[t - 1][n] >> 8) ^ iso[0][iso[t - 1][n] & 0xFF]);
            }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// The reflected 16-bit CRC eight bytes at a time: only the first two bytes meet the register.
std::uint32_t isoUpdate(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    const auto& t = tables().iso;
    while (n >= 8) {
        std::uint32_t lo = crc ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8);
        crc = t[7][lo & 0xFF] ^ t[6][lo >> 8] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^
              t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return crc;
}

std::uint32_t crc32Update(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    const auto& t = tables().crc32;
    while (n >= 8) {
        std::uint32_t lo = crc ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                                  std::uint32_t(p[3]) << 24);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
              t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return crc;
}
}  // namespace

Crc::Crc(int type) : miType(type) { reset(); }

void Crc::reset() { muValue = miType == Xmodem ? 0u : (miType == Crc32 ? 0xFFFFFFFFu : 0xFFFFu); }

void Crc::update(unsigned char byte) { update(&byte, 1); }

void Crc::update(const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    switch (miType) {
        case Xmodem: {
            const Tables& t = tables();
            for (std::size_t i = 0; i < length; ++i)
                muValue = ((muValue << 8) ^ t.xmodem[((muValue >> 8) ^ p[i]) & 0xFF]) & 0xFFFF;
            break;
        }
        case Crc32:
            muValue = crc32Update(muValue, p, length);
            break;
        default:
            muValue = isoUpdate(muValue, p, length);
            break;
    }
}

std::uint32_t Crc::getCRC() const {
    switch (miType) {
        case Xmodem: return muValue;
        case Crc32: return muValue ^ 0xFFFFFFFFu;
        default: return (muValue ^ 0xFFFFu) & 0xFFFF;
    }
}

std::uint16_t Crc::iso3309(const void* data, std::size_t length) {
    Crc c(Iso3309);
    c.update(data, length);
    return static_cast<std::uint16_t>(c.getCRC());
}

std::uint16_t Crc::xmodem(const void* data, std::size_t length) {
    Crc c(Xmodem);
    c.update(data, length);
    return static_cast<std::uint16_t>(c.getCRC());
}

std::uint32_t Crc::crc32(const void* data, std::size_t length) {
    Crc c(Crc32);
    c.update(data, length);
    return c.getCRC();
}

}  // namespace Math
