// The ZDLE codec on its own, independent of any device: encoding, decoding, plain runs.
#include <varonet/zmodem/detail/ZDLECodec.h>

#include <gtest/gtest.h>

#include "support/Files.h"
#include "zmodem/ZModemTestKit.h"

using ZModem::ZDLECodec;
using ZModemTestKit::dense;

namespace {

std::string encode(const std::string& data, unsigned char& previous) {
    std::string out(2 * data.size() + ZDLECodec::EncodeSlack, '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    out.resize(ZDLECodec::encode(reinterpret_cast<const unsigned char*>(data.data()), data.size(), p, previous));
    return out;
}

ZDLECodec::Decoded decode(const std::string& in, std::string& out) {
    out.assign(in.size() + ZDLECodec::DecodeSlack, '\0');
    const auto d = ZDLECodec::decode(reinterpret_cast<const unsigned char*>(in.data()), in.size(),
                                     reinterpret_cast<unsigned char*>(out.data()));
    out.resize(d.produced);
    return d;
}

// The encoder follows the rule byte for byte at every length and alignment
// (a group of nothing but escapes too, and a CR whose '@' is in the group
// before), remembers what it emitted last, and the decoder gives the data back.
TEST(ZDLECodec, EncodesByTheRuleAndDecodesBack) {
    std::string escapes(800, '\0');  // 32 and 16 in a row of nothing but escapes, each different
    for (std::size_t i = 0; i < escapes.size(); ++i) escapes[i] = "\x10\x11\x13\x18\x90\x91\x93"[i * 5 % 7];
    const std::string inputs[] = {dense(1100, 1), TestSupport::randomBytes(700, 2), escapes,
                                  std::string(64, '@') + std::string(64, '\r')};
    for (const auto& input : inputs) {
        for (std::size_t length : {0, 1, 31, 32, 33, 63, 64, 65, 97, 700, 701}) {
            const unsigned char before = length % 2 ? '@' : 'x';  // a CR first is escaped after '@' alone
            const std::string data = input.substr(0, length);
            unsigned char previous = before, expected = before;
            const std::string wire = encode(data, previous);
            ASSERT_EQ(ZModemTestKit::escapeByRule(data, expected, false), wire) << length << " " << before;
            EXPECT_EQ(expected, previous);
            std::string back;
            EXPECT_EQ(wire.size(), decode(wire, back).consumed);
            EXPECT_EQ(data, back);
        }
    }
}

// The decoder drops XON and XOFF and stops before what it cannot decode
// alone: a frame end, a cancel, an escape split by the end of its input.
TEST(ZDLECodec, DecodingStopsWhereTheBytePathGoesOn) {
    const std::string clean(120, 'p');
    // clang-format off
    const struct { std::string in; std::size_t consumed; std::string out; } rows[] = {
        {"a\x11" "b\x93\x13\x91" "c", 7, "abc"}, {"ab\x18" "h1234", 2, "ab"}, {"ab\x18", 2, "ab"},
        {"\x18\x18\x18\x18\x18", 0, ""}, {"\x18l\x18m\x18X", 6, "\x7f\xff\x18"}, {"\x18\x05", 0, ""},
        {clean.substr(0, 40) + "\x18j" + clean, 40, clean.substr(0, 40)}, {clean.substr(0, 95) + "\x18i" + clean, 95, clean.substr(0, 95)},
        {clean.substr(0, 63) + "\x18" + clean.substr(0, 70), 63, clean.substr(0, 63)}};
    // clang-format on
    for (const auto& row : rows) {
        std::string out;
        EXPECT_EQ(row.consumed, decode(row.in, out).consumed) << row.in.size();
        EXPECT_EQ(row.out, out);
    }
    EXPECT_EQ(-1, ZDLECodec::unescaped('k'));
}

// What a header search may skip: everything but '*', ZDLE and (for an
// answer of lines) a line end of either parity.
TEST(ZDLECodec, PlainRunsEndAtWhatAHeaderSearchLooksFor) {
    const std::string run(70, 'x');
    // clang-format off
    const struct { std::string in; bool lines; std::size_t length; } rows[] = {{run, true, 70}, {run + "*", false, 70},
        {run + "\x18", false, 70}, {run + "\n", true, 70}, {run + "\x8a", true, 70}, {run + "\n", false, 71},
        {"ab*" + run, false, 2}, {run.substr(0, 40) + "\x18", false, 40}};
    // clang-format on
    for (const auto& row : rows)
        EXPECT_EQ(row.length,
                  ZDLECodec::plainRun(reinterpret_cast<const unsigned char*>(row.in.data()), row.in.size(), row.lines));
}

}  // namespace
