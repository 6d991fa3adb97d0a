// The Telnet decoder and option negotiation: sequences cut anywhere, options answered once.
#include <varonet/net/rfc2217/TelnetDecoder.h>

#include <gtest/gtest.h>

#include <string>

#include <varonet/net/rfc2217/detail/TelnetCodes.h>
#include <varonet/net/rfc2217/detail/TelnetOptions.h>

namespace {

using namespace Net::Telnet;

// What a decode reported besides data: <verb option>, [option:payload], {command}.
struct Recorder : Net::TelnetDecoder::Listener {
    std::string events;
    void onNegotiation(unsigned char verb, unsigned char option) override {
        events += "<" + std::to_string(verb) + " " + std::to_string(option) + ">";
    }
    void onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) override {
        events +=
            "[" + std::to_string(option) + ":" + std::string(reinterpret_cast<const char*>(payload), length) + "]";
    }
    void onCommand(unsigned char command) override { events += "{" + std::to_string(command) + "}"; }
};

TEST(TelnetDecoder, EverySequenceSurvivesEveryCutBetweenTwoBuffers) {
    using namespace std::string_literals;
    // clang-format off
    const struct { std::string in, data, events; unsigned long dropped; } rows[] = {
        {.in = "ab\xff\xff" "c", .data = "ab\xff" "c", .events = "", .dropped = 0},
        {.in = "\xff\xfb," "x\xff\xfe\xc8", .data = "x", .events = "<251 44><254 200>", .dropped = 0},
        {.in = "x\xff\xfa,e\0\x01\xc2\0\xff\xf0y"s, .data = "xy", .events = "[44:e\0\x01\xc2\0]"s, .dropped = 0},
        {.in = "\xff\xfa,\x01\xff\xff\xff\xf0", .data = "", .events = "[44:\x01\xff]", .dropped = 0},
        {.in = "\xff\xf1z\xff\xf3", .data = "z", .events = "{241}{243}", .dropped = 0},
        // A subnegotiation cut off by another command, and one that never ends: both dropped,
        // and what follows is read as it would be without them.
        {.in = "\xff\xfa,\x01\x02\xff\xfb\x00q"s, .data = "q", .events = "<251 0>", .dropped = 1},
        {.in = "\xff\xfa," + std::string(255, 'a') + "bc\xff\xff", .data = "bc\xff", .events = "", .dropped = 1},
    };
    // clang-format on
    for (const auto& row : rows) {
        for (std::size_t cut = 0; cut <= row.in.size(); ++cut) {
            Net::TelnetDecoder decoder;
            Recorder recorder;
            std::string in = row.in;  // decoded in place, as the links do
            long n = decoder.decode(in.data(), static_cast<long>(cut), in.data(), recorder);
            std::string data = in.substr(0, static_cast<std::size_t>(n));
            n = decoder.decode(in.data() + cut, static_cast<long>(in.size() - cut), in.data() + cut, recorder);
            data += in.substr(cut, static_cast<std::size_t>(n));
            EXPECT_EQ(data, row.data) << testing::PrintToString(row.in) << " cut at " << cut;
            EXPECT_EQ(recorder.events, row.events) << testing::PrintToString(row.in) << " cut at " << cut;
            EXPECT_EQ(decoder.getDropped(), row.dropped) << testing::PrintToString(row.in) << " cut at " << cut;
        }
    }
    std::string escaped;
    Net::TelnetDecoder::escape(
        "\xff"
        "a\xff\xff",
        4, escaped);
    EXPECT_EQ(escaped,
              "\xff\xff"
              "a\xff\xff\xff\xff");
}

TEST(TelnetOptions, EachRequestIsAnsweredOnceAndUnknownOptionsAreRefused) {
    Net::TelnetOptions options({OptionComPort}, {OptionEcho});
    EXPECT_EQ(options.askMine(OptionComPort), WILL);
    EXPECT_EQ(options.askMine(OptionComPort), 0) << "asked already";
    EXPECT_EQ(options.receive(DO, OptionComPort), 0) << "the answer to our request needs none";
    EXPECT_TRUE(options.isMine(OptionComPort));
    // clang-format off
    const struct { unsigned char verb, option, answer; } rows[] = {
        {WILL, OptionEcho, DO}, {WILL, OptionEcho, 0},  // agreed once, never again: no loop
        {DO, 200, WONT}, {WILL, 200, DONT}, {WONT, 200, 0}, {DONT, OptionComPort, WONT}, {DONT, OptionComPort, 0},
    };
    // clang-format on
    for (const auto& row : rows)
        EXPECT_EQ(options.receive(row.verb, row.option), row.answer) << int(row.verb) << " " << int(row.option);
    EXPECT_FALSE(options.isMine(OptionComPort));
    EXPECT_TRUE(options.isTheirs(OptionEcho));
}

}  // namespace
