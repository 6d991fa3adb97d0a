// ZModem::ZDLECodec: ZDLE escaping and unescaping, 32 bytes at a time.
#include <varonet/zmodem/detail/ZDLECodec.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace ZModem {

namespace {

enum ETxClass : unsigned char { TxPlain = 0, TxAlways = 1, TxCR = 2, TxControl = 3 };

struct Tables {
    std::array<unsigned char, 256> tx{};  // ETxClass per byte
    std::array<bool, 256> rxPlain{};      // bytes the decoder passes as they are
    std::array<short, 256> rxEscaped{};   // ZDLE c -> data byte, or -1
    Tables() {
        for (int b = 0; b < 256; ++b) {
            const auto c = static_cast<unsigned char>(b);
            const bool always = c == 0x10 || c == 0x11 || c == 0x13 || c == 0x18 || c == 0x90 || c == 0x91 || c == 0x93;
            tx[b] = always ? TxAlways : (c & 0x7F) == 0x0D ? TxCR : (c & 0x60) == 0 ? TxControl : TxPlain;
            rxPlain[b] = !(c == 0x18 || (c & 0x7D) == 0x11);
            rxEscaped[b] = c == 'l' ? 0x7F : c == 'm' ? 0xFF : (c & 0x60) == 0x40 ? static_cast<short>(c ^ 0x40) : -1;
        }
    }
};
const Tables& tables() {
    static const Tables t;
    return t;
}

// Comparisons of 16-byte vectors give 0 or all ones per lane.
typedef unsigned char Bytes16 __attribute__((vector_size(16)));
typedef signed char Lanes16 __attribute__((vector_size(16)));
inline Bytes16 load16(const unsigned char* p) {
    Bytes16 v;
    std::memcpy(&v, p, 16);
    return v;
}
inline void store16(unsigned char* p, Bytes16 v) { std::memcpy(p, &v, 16); }
inline std::uint64_t half(Lanes16 m, int k) {
    std::uint64_t h;
    std::memcpy(&h, reinterpret_cast<const char*>(&m) + 8 * k, 8);
    return h;
}
inline bool allLanes(Lanes16 m) { return (half(m, 0) & half(m, 1)) == ~std::uint64_t{0}; }
/// One bit per lane (bit k for lane k) of a comparison result.
inline std::uint32_t laneBits(Lanes16 m) {
    auto bits8 = [](std::uint64_t lanes) {
        return static_cast<std::uint32_t>(((lanes & 0x8080808080808080ULL) * 0x0002040810204081ULL) >> 56);
    };
    return bits8(half(m, 0)) | bits8(half(m, 1)) << 8;
}
static_assert(std::endian::native == std::endian::little, "laneBits numbers the lanes of little-endian loads");

// The bytes always escaped: 10, 11, 13, 18, 90, 91, 93.
inline Lanes16 alwaysEscaped(Bytes16 w) { return ((w & 0x7D) == 0x11) | ((w & 0x7F) == 0x10) | (w == ZDLECodec::ZDLE); }
// The bytes the decoder cannot pass: ZDLE, XON, XOFF (either parity).
inline Lanes16 rxSpecial(Bytes16 w) { return (w == ZDLECodec::ZDLE) | ((w & 0x7D) == 0x11); }

// One byte, escaped when the rule says; returns the new index (the second
// byte written is overwritten when it is not needed).
inline std::size_t encodeOne(unsigned char* out, std::size_t at, unsigned char c, unsigned char before) {
    const unsigned char cls = tables().tx[c];
    const bool escape = cls == TxAlways || (cls == TxCR && (before & 0x7F) == '@');
    out[at] = escape ? ZDLECodec::ZDLE : c;
    out[at + 1] = static_cast<unsigned char>(c ^ 0x40);
    return at + 1 + (escape ? 1 : 0);
}

// 32 bytes at s (s[-1] readable) into out + at. The group is copied whole,
// then each byte to escape gets its ZDLE and the rest of the group moves up
// by one; a group of nothing but escapes is interleaved with ZDLE at once.
// Without escape-all an emitted '@' is always an input '@', so the CR rule
// looks at the previous input byte. Returns the new index.
std::size_t encodeGroup(const unsigned char* s, unsigned char* out, std::size_t at) {
    const Bytes16 w0 = load16(s), w1 = load16(s + 16);
    const Lanes16 always0 = alwaysEscaped(w0), always1 = alwaysEscaped(w1);
    if (allLanes(always0 & always1)) {
        const Bytes16 zdles = Bytes16{} + ZDLECodec::ZDLE;
        for (Bytes16 x : {w0 ^ 0x40, w1 ^ 0x40}) {
            store16(out + at,
                    __builtin_shufflevector(zdles, x, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
            store16(out + at + 16,
                    __builtin_shufflevector(zdles, x, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31));
            at += 32;
        }
        return at;
    }
    auto toEscape = [](Bytes16 w, Bytes16 before, Lanes16 always) {
        return always | (((w & 0x7F) == 0x0D) & ((before & 0x7F) == '@'));
    };
    std::uint32_t escape =
        laneBits(toEscape(w0, load16(s - 1), always0)) | laneBits(toEscape(w1, load16(s + 15), always1)) << 16;
    store16(out + at, w0);
    store16(out + at + 16, w1);
    std::size_t shift = 0;
    while (escape) {
        const int k = __builtin_ctz(escape);
        escape &= escape - 1;
        unsigned char* to = out + at + static_cast<std::size_t>(k) + shift++;
        const Bytes16 rest0 = load16(to), rest1 = load16(to + 16);
        store16(to + 1, rest0);
        store16(to + 17, rest1);
        to[0] = ZDLECodec::ZDLE;
        to[1] = static_cast<unsigned char>(s[k] ^ 0x40);
    }
    return at + 32 + shift;
}

// 32 input bytes at in (64 readable) into out + produced: simple escapes are
// decoded in place and XON / XOFF dropped, the rest of the group moving down
// by one each time; a group of 16 simple escapes is decoded at once. At a
// ZDLE that is no simple escape it keeps the bytes before it and stops
// (consumed then less than 32).
ZDLECodec::Decoded decodeGroup(const unsigned char* in, unsigned char* out) {
    const Bytes16 w0 = load16(in), w1 = load16(in + 16);
    std::uint32_t special = laneBits(rxSpecial(w0)) | laneBits(rxSpecial(w1)) << 16;
    store16(out, w0);
    store16(out + 16, w1);
    if (special == 0x55555555u) {
        const Bytes16 lead = __builtin_shufflevector(w0, w1, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        const Bytes16 escaped =
            __builtin_shufflevector(w0, w1, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
        if (allLanes((lead == (Bytes16{} + ZDLECodec::ZDLE)) & ((escaped & 0x60) == 0x40))) {
            store16(out, escaped ^ 0x40);
            return {32, 16};
        }
    }
    std::size_t dropped = 0;
    while (special) {
        const auto k = static_cast<std::size_t>(__builtin_ctz(special));
        special &= special - 1;
        unsigned char* to = out + k - dropped;
        const unsigned char* from = in + k + 1;  // what follows the special byte
        if (in[k] == ZDLECodec::ZDLE) {
            const short d = tables().rxEscaped[in[k + 1]];  // in the next group for the last lane
            if (d < 0) return {k, k - dropped};             // not a simple escape: the byte path decides
            *to++ = static_cast<unsigned char>(d);
            if (k == 31) return {33, 32 - dropped};
            ++from;
        }
        store16(to, load16(from));
        store16(to + 16, load16(from + 16));
        ++dropped;
    }
    return {32, 32 - dropped};
}

}  // namespace

bool ZDLECodec::needsEscape(unsigned char c, unsigned char previous, bool escapeAll) {
    switch (tables().tx[c]) {
        case TxAlways: return true;
        case TxCR: return escapeAll || (previous & 0x7F) == '@';
        case TxControl: return escapeAll;
        default: return false;
    }
}

int ZDLECodec::unescaped(unsigned char c) { return tables().rxEscaped[c]; }

bool ZDLECodec::isPlain(unsigned char c) { return tables().rxPlain[c]; }

std::size_t ZDLECodec::encode(const unsigned char* data, std::size_t length, unsigned char* out,
                              unsigned char& previous) {
    if (length == 0) return 0;
    std::size_t at = encodeOne(out, 0, data[0], previous);  // the byte before data[0] is not in data
    std::size_t i = 1;
    for (; i + 32 <= length; i += 32) at = encodeGroup(data + i, out, at);
    for (; i < length; ++i) at = encodeOne(out, at, data[i], data[i - 1]);
    previous = out[at - 1];  // what was actually emitted last
    return at;
}

ZDLECodec::Decoded ZDLECodec::decode(const unsigned char* in, std::size_t n, unsigned char* out) {
    const Tables& t = tables();
    std::size_t i = 0, o = 0;
    while (i + 64 <= n) {  // a group's moves read up to 32 bytes past it
        const Decoded group = decodeGroup(in + i, out + o);
        i += group.consumed;
        o += group.produced;
        if (group.consumed < 32) return {i, o};
    }
    while (i < n) {
        const unsigned char b = in[i];
        if (t.rxPlain[b]) {
            out[o++] = b;
            ++i;
        } else if (b != ZDLE) {
            ++i;  // XON / XOFF
        } else if (i + 1 < n && t.rxEscaped[in[i + 1]] >= 0) {
            out[o++] = static_cast<unsigned char>(t.rxEscaped[in[i + 1]]);
            i += 2;
        } else {
            break;  // a frame end, a cancel, or an escape split by the end of in
        }
    }
    return {i, o};
}

std::size_t ZDLECodec::plainRun(const unsigned char* in, std::size_t n, bool lines) {
    auto stops = [lines](Bytes16 w) {
        const Lanes16 m = (w == '*') | (w == ZDLE);
        return lines ? m | ((w & 0x7F) == 0x0A) : m;
    };
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const std::uint32_t m = laneBits(stops(load16(in + i))) | laneBits(stops(load16(in + i + 16))) << 16;
        if (m) return i + static_cast<std::size_t>(__builtin_ctz(m));
    }
    while (i < n && in[i] != '*' && in[i] != ZDLE && !(lines && (in[i] & 0x7F) == 0x0A)) ++i;
    return i;
}

}  // namespace ZModem
