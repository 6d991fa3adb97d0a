// Table-driven CRCs (ISO/IEC 3309, XMODEM, CRC-32); CRC-32 by carry-less multiplication where the CPU has it.
#include <varonet/base/detail/Crc.h>

#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
// CRC-32 by folding with carry-less multiplication (PCLMULQDQ), 64 bytes per
// step; n is at least 64 and a multiple of 16. The constants are the
// bit-reflected folding constants and Barrett values of polynomial 04C11DB7.
// crc is the register value (before the final complement), as below.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t crc32Fold(std::uint32_t crc, const unsigned char* buf,
                                                                 std::size_t n) {
    alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4ULL, 0x01c6e41596ULL};
    alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0ULL, 0x00ccaa009eULL};
    alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124ULL, 0x0000000000ULL};
    alignas(16) static const std::uint64_t poly[] = {0x01db710641ULL, 0x01f7011641ULL};
    __m128i x0, x1, x2, x3, x4, x5, x6, x7, x8, y5, y6, y7, y8;
    x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
    x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
    x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
    x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    buf += 64;
    n -= 64;
    while (n >= 64) {
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
        x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
        x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
        x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
        y5 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
        y6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
        y7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
        y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), y5);
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), y6);
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), y7);
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), y8);
        buf += 64;
        n -= 64;
    }
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x3), x5);
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x4), x5);
    while (n >= 16) {
        x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf));
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
        buf += 16;
        n -= 16;
    }
    x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
    x3 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_srli_si128(x1, 8);
    x1 = _mm_xor_si128(x1, x2);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, x3);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_and_si128(x1, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
    x2 = _mm_and_si128(x2, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool haveFold() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

std::uint32_t crc32Update(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    const auto& t = tables().crc32;
#if defined(__x86_64__)
    if (n >= 64 && haveFold()) {
        std::size_t folded = n & ~static_cast<std::size_t>(15);
        crc = crc32Fold(crc, p, folded);
        p += folded;
        n -= folded;
    }
#endif
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
        case Crc32: muValue = crc32Update(muValue, p, length); break;
        default: muValue = isoUpdate(muValue, p, length); break;
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
