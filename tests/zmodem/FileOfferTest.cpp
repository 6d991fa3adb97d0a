// The ZFILE offer on its own: the short and the full form written and read back.
#include <varonet/zmodem/detail/FileOffer.h>

#include <gtest/gtest.h>

using ZModem::FileOffer;

namespace {

// Both forms as peers write them: sz's "size mtime mode serial files bytes"
// with time and mode in octal, the short one without them.
TEST(FileOffer, WritesTheShortAndTheFullForm) {
    FileOffer offer{.name = "a", .size = 12, .mtime = 1577934245, .mode = 0100754, .filesLeft = 3, .bytesLeft = 40};
    EXPECT_EQ(std::string("a\00012", 4), offer.encode(false).toString().str());
    EXPECT_EQ(std::string("a\00012 13603256645 100754 0 3 40\0", 31), offer.encode(true).toString().str());
}

// What a receiver takes from an offer: a field that is missing or no number
// leaves itself and those after it unknown; a size has at most 15 digits.
TEST(FileOffer, ReadsWhatIsThere) {
    // clang-format off
    const struct { std::string bytes; std::string name; long long size; long long mtime; unsigned int mode; } rows[] = {
        {std::string("f.txt\00012 13603256645 100754 0 1 12\0", 35), "f.txt", 12, 1577934245, 0100754},
        {std::string("f.txt\00012 13603256645", 20), "f.txt", 12, 1577934245, 0},
        {std::string("f.txt\00012 x 644", 14), "f.txt", 12, -1, 0}, {std::string("f.txt\000", 6), "f.txt", 0, -1, 0},
        {std::string("big\0001234567890123456789", 23), "big", 123456789012345, 067, 0}, {"noterm", "noterm", 0, -1, 0}};
    // clang-format on
    for (const auto& row : rows) {
        const FileOffer offer = FileOffer::parse(Base::ByteArray(row.bytes.data(), row.bytes.size()));
        EXPECT_EQ(row.name, offer.name.str());
        EXPECT_EQ(row.size, offer.size);
        EXPECT_EQ(row.mtime, offer.mtime.value_or(-1)) << row.name;
        EXPECT_EQ(row.mode, offer.mode.value_or(0)) << row.name;
    }
}

}  // namespace
