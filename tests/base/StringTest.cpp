// Base::String: the null state, Latin-1 case folding, and number conversions that report failure.
#include <varonet/base/String.h>

#include <gtest/gtest.h>

using Base::String;

// Finding and ordering serve the locator parser and its option map, whose tests cover them.
TEST(String, NullIsNotEmptyAndCaseFoldingKeepsLatin1) {
    // clang-format off
    const struct { const char* name; String text; bool null; } texts[] = {
        {"default", String(), true}, {"a null pointer", String(static_cast<const char*>(nullptr)), true},
        {"null lower-cased", String().toLower(), true}, {"null plus empty", String() + "", false}, {"empty", String(""), false}};
    // clang-format on
    for (const auto& t : texts) EXPECT_EQ(t.text.isNull(), t.null) << t.name;
    EXPECT_TRUE(String().isEmpty()) << "a null text is empty too";
    EXPECT_FALSE(String() == String(""));
    EXPECT_EQ(String("serial:COM1@9600").findLast('0'), 15);
    EXPECT_EQ(String("\xC4rger ABC").toLower().str(), "\xC4rger abc");
    EXPECT_EQ(String("a\0b", 3).length(), 3u);
    EXPECT_EQ(String("aXbXc").replaceAll("X", "XX").str(), "aXXbXXc");
}

TEST(String, NumbersReportFailure) {
    // clang-format off
    const struct { String text; int base; bool ok; unsigned int value; } rows[] = {
        {String(), 10, false, 0}, {"", 10, false, 0}, {"12a", 10, false, 0}, {" 1", 10, false, 0}, {"-1", 10, false, 0},
        {"4294967296", 10, false, 0}, {"0", 10, true, 0}, {"4294967295", 10, true, 4294967295u}, {"ff", 16, true, 255},
        {"FF", 16, true, 255}, {"12", 8, true, 10}, {"9", 8, false, 0}};
    const struct { const char* text; bool ok; int value; } integers[] = {
        {"-42", true, -42}, {"-2147483648", true, -2147483647 - 1}, {"2147483648", false, 0}, {"-", false, 0}};
    // clang-format on
    for (const auto& row : rows) {
        bool ok = !row.ok;
        EXPECT_EQ(row.text.asUnsigned(row.base, &ok), row.value) << row.text.str();
        EXPECT_EQ(ok, row.ok) << row.text.str();
    }
    for (const auto& row : integers) {
        bool ok = !row.ok;
        EXPECT_EQ(String(row.text).asInteger(10, &ok), row.value) << row.text;
        EXPECT_EQ(ok, row.ok) << row.text;
    }
    for (const char* text : {"", "12 ", "+1"}) EXPECT_FALSE(String(text).isNumeric()) << text;
    EXPECT_TRUE(String("0123").isNumeric());
    EXPECT_EQ(String::fromInteger(255, 16, 2).str() + String::fromInteger(5, 16, 2).str(), "FF05");
    EXPECT_EQ(String::fromInteger(0).str() + "/" + String::fromInteger(-12, 10, 4).str(), "0/-012");
    EXPECT_EQ(String::fromUnsigned(0xFFFFFFFFFFFFFFFFull, 16).str(), "FFFFFFFFFFFFFFFF");
}
