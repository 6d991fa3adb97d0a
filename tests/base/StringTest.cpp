#include <varonet/base/String.h>

#include <gtest/gtest.h>

#include <map>

using Base::String;

TEST(String, NullIsEmptyButNotEqualToEmpty) {
    String null;
    String empty("");
    EXPECT_TRUE(null.isNull());
    EXPECT_TRUE(null.isEmpty());
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(null == empty);
    EXPECT_TRUE(String(static_cast<const char*>(nullptr)).isNull());
    EXPECT_FALSE((null + "").isNull());
    EXPECT_TRUE(null.toLower().isNull());
}

TEST(String, FindGivesMinusOneWhenAbsent) {
    String s("serial:COM1@9600");
    EXPECT_EQ(s.find(':'), 6);
    EXPECT_EQ(s.find("COM"), 7);
    EXPECT_EQ(s.find('#'), -1);
    EXPECT_EQ(s.find("COM", 8), -1);
    EXPECT_EQ(s.findLast('0'), 15);
    EXPECT_EQ(String().find('x'), -1);
}

TEST(String, AsUnsignedReportsFailure) {
    struct Row {
        String text;
        int base;
        bool ok;
        unsigned int value;
    } rows[] = {
        {String(), 10, false, 0},  {"", 10, false, 0},          {"12a", 10, false, 0},
        {" 1", 10, false, 0},      {"-1", 10, false, 0},        {"4294967296", 10, false, 0},
        {"0", 10, true, 0},        {"4294967295", 10, true, 4294967295u},
        {"ff", 16, true, 255},     {"FF", 16, true, 255},       {"12", 8, true, 10},
        {"9", 8, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.str());
        bool ok = !row.ok;
        EXPECT_EQ(row.text.asUnsigned(row.base, &ok), row.value);
        EXPECT_EQ(ok, row.ok);
    }
}

TEST(String, AsIntegerAndNumeric) {
    bool ok = false;
    EXPECT_EQ(String("-42").asInteger(10, &ok), -42);
    EXPECT_TRUE(ok);
    EXPECT_EQ(String("-2147483648").asInteger(10, &ok), -2147483647 - 1);
    EXPECT_TRUE(ok);
    String("2147483648").asInteger(10, &ok);
    EXPECT_FALSE(ok);
    String("-").asInteger(10, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(String("0123").isNumeric());
    EXPECT_FALSE(String("").isNumeric());
    EXPECT_FALSE(String("12 ").isNumeric());
    EXPECT_FALSE(String("+1").isNumeric());
}

TEST(String, FromInteger) {
    EXPECT_EQ(String::fromInteger(255, 16, 2).str(), "FF");
    EXPECT_EQ(String::fromInteger(5, 16, 2).str(), "05");
    EXPECT_EQ(String::fromInteger(0).str(), "0");
    EXPECT_EQ(String::fromInteger(-12, 10, 4).str(), "-012");
    EXPECT_EQ(String::fromInteger(1234567, 10).str(), "1234567");
    EXPECT_EQ(String::fromUnsigned(0xFFFFFFFFFFFFFFFFull, 16).str(), "FFFFFFFFFFFFFFFF");
}

TEST(String, OrderingServesMaps) {
    std::map<String, int> m;
    m[String()] = 0;
    m["b"] = 2;
    m["B"] = 1;
    m[""] = 3;
    auto it = m.begin();
    EXPECT_TRUE(it->first.isNull());
    EXPECT_EQ((++it)->first.str(), "");
    EXPECT_EQ((++it)->first.str(), "B");
    EXPECT_EQ((++it)->first.str(), "b");
}

TEST(String, Latin1BytesAndCaseFolding) {
    String s("\xC4rger ABC");  // Latin-1 A-umlaut stays as it is
    EXPECT_EQ(s.toLower().str(), "\xC4rger abc");
    EXPECT_EQ(s.length(), 9u);
    EXPECT_EQ(String("a\0b", 3).length(), 3u);
    EXPECT_EQ(String("aXbXc").replaceAll("X", "XX").str(), "aXXbXXc");
}
