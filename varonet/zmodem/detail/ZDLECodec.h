#pragma once
// ZModem::ZDLECodec: the ZDLE escaping of data bytes and its undoing, 32 bytes
// at a time through the compiler's vector extension (SSE2 on x86-64, NEON on
// ARM, plain words elsewhere). It knows no device and no frame: the core
// hands it bytes and takes the result.
//
// The escaping rule (without escape-all): 10, 11, 13, 18, 90, 91, 93 hex are
// always escaped; CR (0D, 8D) is escaped after an emitted '@' (40 or C0); an
// escape is ZDLE followed by the byte xor 40 hex. The decoder passes every
// byte but ZDLE, XON and XOFF (either parity) through, drops XON and XOFF,
// and undoes the simple escapes: ZDLE followed by a byte c with (c & 60) = 40
// gives c xor 40, ZDLE 'l' gives 7F, ZDLE 'm' gives FF.
#include <cstddef>

namespace ZModem {

class ZDLECodec {
public:
    static constexpr unsigned char ZDLE = 0x18;
    /// Room an encoding needs beyond two bytes per input byte (whole-group stores).
    static constexpr std::size_t EncodeSlack = 64;
    /// Room a decoding needs beyond one byte per input byte.
    static constexpr std::size_t DecodeSlack = 32;

    /// Whether c is escaped after the emitted byte previous.
    static bool needsEscape(unsigned char c, unsigned char previous, bool escapeAll);
    /// Escapes length bytes of data into out, which has room for 2 * length +
    /// EncodeSlack bytes (without escape-all). previous is the byte emitted
    /// just before (for the CR rule); it becomes the last byte emitted.
    /// Returns the number of bytes written.
    static std::size_t encode(const unsigned char* data, std::size_t length, unsigned char* out,
                              unsigned char& previous);

    struct Decoded {
        std::size_t consumed;  ///< input bytes taken
        std::size_t produced;  ///< data bytes written
    };
    /// Decodes plain bytes and simple escapes from the n bytes of in into out
    /// (room for n + DecodeSlack), dropping XON and XOFF. Stops before
    /// anything else: a frame end, a cancel, ZDLE as the last byte of in.
    static Decoded decode(const unsigned char* in, std::size_t n, unsigned char* out);
    /// The data byte that ZDLE c stands for, or -1 when ZDLE c is no simple
    /// escape (a frame end, a second ZDLE, an unknown pair).
    static int unescaped(unsigned char c);
    /// True for the bytes the decoder passes through as they are.
    static bool isPlain(unsigned char c);
    /// Length of the leading run of in that holds no '*', no ZDLE and, when
    /// lines is set, no LF (either parity): what a header search may skip.
    static std::size_t plainRun(const unsigned char* in, std::size_t n, bool lines);
};

}  // namespace ZModem
