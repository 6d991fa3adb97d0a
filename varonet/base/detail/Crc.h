#pragma once
// Math::Crc: table-driven CRCs.
//
//   type 0  CRC-16 of ISO/IEC 3309 (the T=1 CRC): reflected 0x1021, initial FFFF,
//           final xor FFFF; check value of "123456789" = 906E
//   type 1  CRC-16/XMODEM: 0x1021, initial 0, no reflection; check 31C3
//   type 2  CRC-32 (ISO-HDLC, as ZMODEM uses it): reflected 0x04C11DB7,
//           initial FFFFFFFF, final xor FFFFFFFF; check CBF43926

#include <cstddef>
#include <cstdint>

namespace Math {

class Crc {
public:
    enum EType { Iso3309 = 0, Xmodem = 1, Crc32 = 2 };

    explicit Crc(int type = Iso3309);
    void reset();
    void update(unsigned char byte);
    void update(const void* data, std::size_t length);
    /// The finished CRC (final xor applied); updating may go on afterwards.
    std::uint32_t getCRC() const;

    /// One-shot helpers.
    static std::uint16_t iso3309(const void* data, std::size_t length);
    static std::uint16_t xmodem(const void* data, std::size_t length);
    static std::uint32_t crc32(const void* data, std::size_t length);

private:
    int miType;
    std::uint32_t muValue;
};

}  // namespace Math
