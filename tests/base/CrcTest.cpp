#include <varonet/base/Crc.h>

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <varonet/base/Bcd.h>
#include <varonet/base/ByteArray.h>
#include <varonet/base/HexDump.h>

TEST(Crc, PublishedCheckValues) {
    const char* check = "123456789";
    EXPECT_EQ(Math::Crc::iso3309(check, 9), 0x906E);
    EXPECT_EQ(Math::Crc::xmodem(check, 9), 0x31C3);
    EXPECT_EQ(Math::Crc::crc32(check, 9), 0xCBF43926u);
    Math::Crc byByte(Math::Crc::Iso3309);
    for (int i = 0; i < 9; ++i) byByte.update(static_cast<unsigned char>(check[i]));
    EXPECT_EQ(byByte.getCRC(), 0x906Eu);
}

TEST(Crc, ChunkedUpdatesMatchOneShot) {
    std::mt19937 random(7);
    std::vector<unsigned char> data(10007);
    for (auto& b : data) b = static_cast<unsigned char>(random());
    for (int type : {0, 1, 2}) {
        Math::Crc whole(type), pieces(type);
        whole.update(data.data(), data.size());
        for (std::size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 97 + 1)
            pieces.update(data.data() + at, std::min(step, data.size() - at));
        EXPECT_EQ(whole.getCRC(), pieces.getCRC()) << "type " << type;
    }
}

TEST(ByteArray, EdcIsSeedXorEveryByte) {
    Base::ByteArray a{0x01, 0x02, 0x04};
    EXPECT_EQ(a.getEDC(0), 0x07);
    EXPECT_EQ(a.getEDC(0xF0), 0xF7);
    EXPECT_EQ(Base::ByteArray().getEDC(0x5A), 0x5A);
}

TEST(Bcd, PackAndHex) {
    EXPECT_EQ(Math::Hex(Math::Bcd::fromInteger(255).pack(8)).asString().str(), "00000255");
    EXPECT_EQ(Math::Hex(Math::Bcd::fromInteger(99999999).pack(8)).asString().str(), "99999999");
    EXPECT_EQ(Math::Hex(Base::ByteArray{0x00, 0xAB, 0x0F}).asString().str(), "00AB0F");
    bool ok = false;
    EXPECT_EQ(Math::Bcd::unpack(Base::ByteArray{0x00, 0x00, 0x02, 0x55}, &ok), 255u);
    EXPECT_TRUE(ok);
    Math::Bcd::unpack(Base::ByteArray{0x0A}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Math::Hex::parse("00ab0F", &ok), (Base::ByteArray{0x00, 0xAB, 0x0F}));
    EXPECT_TRUE(ok);
    Math::Hex::parse("0g", &ok);
    EXPECT_FALSE(ok);
}

TEST(HexDump, ShowsOffsetsBytesAndText) {
    Base::String dump = Base::HexDump::dump(Base::ByteArray::fromString("ABC\r\n0123456789abcdef"));
    EXPECT_EQ(dump.str(),
              "0000  41 42 43 0D 0A 30 31 32 33 34 35 36 37 38 39 61  ABC..0123456789a\n"
              "0010  62 63 64 65 66                                   bcdef\n");
    EXPECT_TRUE(Base::HexDump::dump(Base::ByteArray()).isEmpty());
}
