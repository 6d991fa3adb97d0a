// Published check values of every CRC, whole and in pieces, and BCD and hex conversions.
#include <varonet/base/detail/Crc.h>

#include <gtest/gtest.h>

#include <varonet/base/detail/Bcd.h>
#include <varonet/base/detail/HexDump.h>

#include "support/Files.h"

TEST(Crc, PublishedCheckValuesWholeOrInPieces) {
    EXPECT_EQ(Math::Crc::iso3309("123456789", 9), 0x906E);
    EXPECT_EQ(Math::Crc::xmodem("123456789", 9), 0x31C3);
    EXPECT_EQ(Math::Crc::crc32("123456789", 9), 0xCBF43926u);
    const std::string data = TestSupport::randomBytes(10007, 7);
    for (int type : {0, 1, 2}) {
        Math::Crc whole(type), pieces(type), bytes(type);
        whole.update(data.data(), data.size());
        for (std::size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 97 + 1)
            pieces.update(data.data() + at, std::min(step, data.size() - at));
        for (char c : data) bytes.update(static_cast<unsigned char>(c));
        EXPECT_EQ(pieces.getCRC(), whole.getCRC()) << "type " << type;
        EXPECT_EQ(bytes.getCRC(), whole.getCRC()) << "type " << type;
    }
    EXPECT_EQ((Base::ByteArray{0x01, 0x02, 0x04}).getEDC(0xF0), 0xF7) << "EDC: the seed xor every byte";
}

TEST(Bcd, PackUnpackHexAndDump) {
    EXPECT_EQ(Math::Hex(Math::Bcd::fromInteger(255).pack(8)).asString().str(), "00000255");
    EXPECT_EQ(Math::Hex(Math::Bcd::fromInteger(99999999).pack(8)).asString().str(), "99999999");
    bool ok = false;
    EXPECT_EQ(Math::Bcd::unpack(Base::ByteArray{0x00, 0x00, 0x02, 0x55}, &ok), 255u);
    EXPECT_TRUE(ok);
    Math::Bcd::unpack(Base::ByteArray{0x0A}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Math::Hex::parse("00ab0F", &ok), (Base::ByteArray{0x00, 0xAB, 0x0F}));
    EXPECT_TRUE(ok);
    Math::Hex::parse("0g", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Base::HexDump::dump(Base::ByteArray::fromString("ABC\r\n0123456789abcdef")).str(),
              "0000  41 42 43 0D 0A 30 31 32 33 34 35 36 37 38 39 61  ABC..0123456789a\n"
              "0010  62 63 64 65 66                                   bcdef\n");
    EXPECT_TRUE(Base::HexDump::dump(Base::ByteArray()).isEmpty());
}
