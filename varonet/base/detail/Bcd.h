#pragma once
// Math::Bcd: decimal digits, packed two to a byte.

#include <cstdint>

#include <varonet/base/ByteArray.h>

namespace Math {

class Bcd {
public:
    static Bcd fromInteger(std::uint64_t value) { return Bcd(value); }
    /// The value as digits packed two per byte, most significant first,
    /// left-padded with zeros to digits (an even count; odd counts round up).
    Base::ByteArray pack(unsigned int digits) const;
    /// Reads packed digits; ok (when given) is false for a nibble above 9.
    static std::uint64_t unpack(const Base::ByteArray& bytes, bool* ok = nullptr);
    std::uint64_t getValue() const { return muValue; }

private:
    explicit Bcd(std::uint64_t value) : muValue(value) {}
    std::uint64_t muValue;
};

/// Math::Hex: bytes as hexadecimal text, two upper-case digits per byte.
class Hex {
public:
    explicit Hex(const Base::ByteArray& bytes) : mBytes(bytes) {}
    Base::String asString() const;
    /// Hexadecimal text (upper or lower case, even length) back to bytes; ok false on bad text.
    static Base::ByteArray parse(const Base::String& text, bool* ok = nullptr);

private:
    Base::ByteArray mBytes;
};

}  // namespace Math
