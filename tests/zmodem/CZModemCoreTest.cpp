#include <varonet/zmodem/CZModemCore.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <random>

#include <varonet/base/Exception.h>
#include <varonet/base/HexDump.h>
#include "support/Files.h"
#include "support/Process.h"
#include "support/ScriptedDevice.h"
#include <varonet/zmodem/CZModemComm.h>
#include <varonet/zmodem/ZModemDebugSink.h>
#include <varonet/zmodem/ZModemErrors.h>

using ZModem::CZModemCore;
using ZModem::ZModemErrors;
using Core = ZModem::CZModemCore;

namespace {

const std::string kZdle(1, '\x18');

std::string bytesOf(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

std::vector<std::string> gLines;
std::mutex gLinesMutex;
int linesEqual(const std::string& line) { return static_cast<int>(std::count(gLines.begin(), gLines.end(), line)); }
struct SinkGuard {
    SinkGuard() {
        gLines.clear();
        ZModem::ZModemDebugSink::set([](const Base::String& l) {
            std::lock_guard<std::mutex> g(gLinesMutex);
            gLines.push_back(l.str());
        });
    }
    ~SinkGuard() { ZModem::ZModemDebugSink::set(nullptr); }
};

// Encodes a subpacket on one core and returns the single write it made.
std::string encode(const std::string& data, unsigned char end, int escapeAll = 0) {
    TestSupport::ScriptedDevice out;
    CZModemCore core(&out, false);
    core.setEscapeAll(escapeAll);
    EXPECT_EQ(0, core.sendData32(reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()), end));
    EXPECT_EQ(1u, out.writes().size());
    return out.written();
}

// The wire of a subpacket: its escapes, frame end and CRC-32.
TEST(CZModemCoreFraming, SubpacketEscapes) {
    struct Row {
        std::string data;
        unsigned char end;
        int escapeAll;
        std::string wirePrefix;
    } rows[] = {
        // CRC-32 of "h" is 916B06E7: sent least significant first, 91 escaped.
        {"", Core::ZCRCE, 0, bytesOf({0x18, 'h', 0xE7, 0x06, 0x6B, 0x18, 0xD1})},
        // CR is escaped after "@" only, 8D after C0 (the same rule modulo 80 hex).
        {"@\r", Core::ZCRCW, 0, bytesOf({'@', 0x18, 0x4D})},
        {"A\r", Core::ZCRCW, 0, bytesOf({'A', 0x0D, 0x18})},
        {"\xC0\x8D", Core::ZCRCW, 0, bytesOf({0xC0, 0x18, 0xCD})},
        // With escape-all every control character goes escaped, CR included.
        {"x\x05\r", Core::ZCRCW, 1, bytesOf({'x', 0x18, 0x45, 0x18, 0x4D})},
    };
    for (const auto& row : rows) EXPECT_EQ(row.wirePrefix, encode(row.data, row.end, row.escapeAll).substr(0, row.wirePrefix.size()));
    // The always-escaped bytes (18 and 11 hex among them) and only those.
    const std::pair<int, std::string> bytes[] = {
        {0x18, bytesOf({0x18, 0x58})}, {0x11, bytesOf({0x18, 0x51})}, {0x13, bytesOf({0x18, 0x53})},
        {0x10, bytesOf({0x18, 0x50})}, {0x90, bytesOf({0x18, 0xD0})}, {0x91, bytesOf({0x18, 0xD1})},
        {0x93, bytesOf({0x18, 0xD3})}, {0x12, bytesOf({0x12})},       {0x05, bytesOf({0x05})},
        {0x7F, bytesOf({0x7F})},       {0xFF, bytesOf({0xFF})},       {0x0D, bytesOf({0x0D})}};
    for (const auto& [byte, escaped] : bytes)
        EXPECT_EQ("x" + escaped + kZdle + "i", encode(bytesOf({'x', byte}), Core::ZCRCG).substr(0, escaped.size() + 3)) << byte;
}

// No byte that must travel escaped appears bare on the wire: the 7 always
// escaped, CR after "@" (modulo 80 hex), with escape-all every control character.
void expectEscaped(const std::string& wire, bool escapeAll) {
    for (std::size_t i = 0; i < wire.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(wire[i]);
        if (c == 0x18) {
            ++i;
            continue;
        }
        ASSERT_TRUE(c != 0x10 && c != 0x11 && c != 0x13 && (c & 0x7F) != 0x10 && (c & 0x7F) != 0x11 && (c & 0x7F) != 0x13)
            << "bare " << int(c) << " at " << i;
        ASSERT_FALSE(i > 0 && (c & 0x7F) == 0x0D && (wire[i - 1] & 0x7F) == '@') << "bare CR after @ at " << i;
        ASSERT_FALSE(escapeAll && (c & 0x60) == 0) << "bare control " << int(c) << " at " << i;
    }
}

TEST(CZModemCoreFraming, SubpacketLargerThanTheBlockBufferIsRefused) {
    TestSupport::ScriptedDevice out;
    CZModemCore core(&out, false);
    std::string full(1024, '\x18');  // 2048 bytes escaped: fits
    EXPECT_EQ(0, core.sendData32(reinterpret_cast<const unsigned char*>(full.data()), 1024, Core::ZCRCW));
    std::string over(2100, '\x18');  // 4200 bytes escaped: does not
    EXPECT_EQ(ZModemErrors::ErrDataWrite,
              core.sendData32(reinterpret_cast<const unsigned char*>(over.data()), 2100, Core::ZCRCW));
    EXPECT_EQ(1u, out.writes().size());
}

TEST(CZModemCoreFraming, HexHeadersAndShorthands) {
    TestSupport::ScriptedDevice out;
    CZModemCore core(&out, false);
    // ZRQINIT with the command flag, ZRPOS least significant byte first.
    ASSERT_EQ(0, core.sendZRINIT(0));
    core.sendZRQInit_X(1);
    core.sendZRPOS(0x01020304);
    core.sendrz();
    core.sendOO();
    const std::string expected[] = {"**" + kZdle + "B0100000023be50\r\n\x11", "**" + kZdle + "B0000000012",
                                    "**" + kZdle + "B0904030201", "rz\r", "OO"};
    ASSERT_EQ(5u, out.writes().size());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(expected[i], out.writes()[i].substr(0, expected[i].size()));
    EXPECT_EQ(expected[0], out.writes()[0]);
    // ZACK with position 0 repeats the header data it holds.
    out.clearWrites();
    unsigned char d[4] = {9, 8, 7, 6};
    core.setHeader(Core::ZHEX, Core::ZFREECNT, d);
    core.sendZACK(0);
    TestSupport::ScriptedDevice in(out.written());
    CZModemCore reader(&in, false);
    ASSERT_EQ(0, reader.getZMHeader(10));
    EXPECT_EQ(Core::ZACK, reader.getHeaderType());
    EXPECT_EQ(0x06070809, reader.getHeaderPosition());
}

TEST(CZModemCoreFraming, WrongHeaderFormatAndTimeOutAreOneLineEach) {
    SinkGuard sink;
    TestSupport::ScriptedDevice out;
    CZModemCore core(&out, false);
    core.setHeader('A', Core::ZFIN, nullptr);
    EXPECT_EQ(-1, core.sendHeader());
    EXPECT_EQ(ZModemErrors::ErrLinkTimeout, core.getNextCh(1));
    EXPECT_EQ((std::vector<std::string>{"wrong headertype\n", "Timeout getNextCh\n"}), gLines);
}

// Every header type, both formats, goes out in one write (a hex one with
// XON at the end except after ZACK and ZFIN: 21 bytes, those 20) and
// survives the trip through a peer core, whatever the chunking of the input.
TEST(CZModemCoreFraming, HeadersRoundTripAcrossChunkings) {
    for (std::size_t chunk : {1u, 3u, 7u, 1000u}) {
        for (unsigned char format : {Core::ZHEX, Core::ZBIN32}) {
            for (int type = 0; type <= 19; ++type) {
                TestSupport::ScriptedDevice out;
                CZModemCore sender(&out, false);
                unsigned char d[4] = {0x18, 0x11, static_cast<unsigned char>(type), 0x8D};
                sender.setHeader(format, type, d);
                ASSERT_EQ(0, sender.sendHeader());
                ASSERT_EQ(1u, out.writes().size());
                if (format == Core::ZHEX) {
                    EXPECT_EQ(type == Core::ZACK || type == Core::ZFIN ? 20u : 21u, out.written().size()) << type;
                }
                TestSupport::ScriptedDevice in("garbage*x*" + out.written(), chunk);
                CZModemCore receiver(&in, false);
                ASSERT_EQ(0, receiver.getZMHeader(100)) << type << " " << format << " " << chunk;
                EXPECT_EQ(type, receiver.getHeaderType());
                EXPECT_EQ(format, receiver.getHeaderFormat());
                EXPECT_EQ(0, std::memcmp(d, receiver.getHeaderData(), 4));
                EXPECT_TRUE(receiver.isHeaderComplete());
            }
        }
    }
}

TEST(CZModemCoreFraming, DamagedOrForeignHeadersAreRefused) {
    SinkGuard sink;
    // Uppercase hex is not hex (20000008); a header spelled with it is never found (20000009).
    TestSupport::ScriptedDevice digit("0A");
    EXPECT_EQ(ZModemErrors::ErrHexDigit, CZModemCore(&digit, false).getNextHexCh(10));
    const std::string upper = "**" + kZdle + "B0100000023BE50\r\n\x11";
    TestSupport::ScriptedDevice upperBody(upper.substr(4)), upperAll(upper);
    EXPECT_EQ(ZModemErrors::ErrHexDigit, CZModemCore(&upperBody, false).getHexHeader());
    CZModemCore core(&upperAll, false);
    EXPECT_EQ(ZModemErrors::ErrLinkTimeout, core.getZMHeader(10));
    EXPECT_FALSE(core.isHeaderComplete());
    // A binary header with a 16-bit CRC is not recognised.
    TestSupport::ScriptedDevice bin16("*" + kZdle + "A" + bytesOf({1, 0, 0, 0, 0x23, 0x12, 0x34}));
    EXPECT_EQ(ZModemErrors::ErrLinkTimeout, CZModemCore(&bin16, false).getZMHeader(10));
    // CRC mismatches of both formats.
    gLines.clear();
    TestSupport::ScriptedDevice hexBody("0100000023be51\r\n\x11");
    EXPECT_EQ(ZModemErrors::ErrHexCrc, CZModemCore(&hexBody, false).getHexHeader());
    EXPECT_EQ(1, linesEqual("set error ZMODEM_CRCXM\n"));
    EXPECT_EQ(1, linesEqual("got HexHeader ZRINIT\n"));
    TestSupport::ScriptedDevice out;
    ASSERT_EQ(0, CZModemCore(&out, false).sendZDATA(1234));
    std::string wire = out.written();
    wire[4] ^= 0x01;  // first position byte
    TestSupport::ScriptedDevice binBody(wire.substr(3));
    EXPECT_EQ(ZModemErrors::ErrBinCrc, CZModemCore(&binBody, false).getBin32Header());
}

TEST(CZModemCoreFraming, DleDecoding) {
    struct Row {
        std::string wire;
        int result;
        unsigned int current;
    } rows[] = {
        {kZdle + "l", 0, 0x7F},
        {kZdle + "m", 0, 0xFF},
        {kZdle + "X", 0, 0x18},
        {kZdle + "h", ZModemErrors::ResultSpecial, 'h'},
        {kZdle + "k", ZModemErrors::ResultSpecial, 'k'},
        {std::string(5, '\x18'), ZModemErrors::ResultSpecial, 0x18},
        {kZdle + "\x11\x93X", 0, 0x18},           // XON / XOFF inside an escape are dropped
        {"\x11\x91\x13\x93" "A", 0, 'A'},        // and outside
        {kZdle + "\x05", ZModemErrors::ErrProtocol, 0},
        {kZdle, ZModemErrors::ErrLinkTimeout, 0},
    };
    for (const auto& row : rows) {
        TestSupport::ScriptedDevice in(row.wire, 1);
        CZModemCore core(&in, false);
        int r = core.getNextDLECh(5);
        EXPECT_EQ(row.result, r) << Base::HexDump::dump(row.wire.data(), row.wire.size()).str();
        if (r == 0 || r == ZModemErrors::ResultSpecial) {
            EXPECT_EQ(row.current, core.getCurrentCh());
        }
    }
}

TEST(CZModemCoreFraming, EscapeAllDropsUnescapedControlCharacters) {
    TestSupport::ScriptedDevice in("a\x05" "b" + kZdle + "C");
    CZModemCore core(&in, false);
    core.setEscapeAll(1);
    std::string got;
    for (int i = 0; i < 3 && core.getNextDLECh(5) == 0; ++i) got += static_cast<char>(core.getCurrentCh());
    EXPECT_EQ("ab\x03", got);
    // Five ZDLEs cancel a subpacket.
    TestSupport::ScriptedDevice cancel("abc" + std::string(5, '\x18'));
    EXPECT_EQ(ZModemErrors::ErrProtocol, CZModemCore(&cancel, false).getData());
}

// Subpackets of every byte value round-trip through getData, whatever the
// chunking, with and without escape-all; the position advances by the length.
TEST(CZModemCoreFraming, SubpacketsRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    // Dense in the bytes the escaping is about, at every offset of a word.
    const unsigned char alphabet[] = {0x0D, 0x8D, '@', 0xC0, 0x10, 0x11, 0x12, 0x13, 0x18, 0x90,
                                      0x91, 0x92, 0x93, 0x98, 0x00, 0x05, 'A',  0x7F, 0xFF, 0x4D};
    std::mt19937 gen(7);
    std::string dense(1024, '\0');
    for (auto& c : dense) c = static_cast<char>(gen() % 3 ? alphabet[gen() % sizeof(alphabet)] : gen());
    std::string payloads[] = {"", "@\r@\r", all, TestSupport::randomBytes(1024, 9), std::string(1024, '\x18'), dense,
                              dense.substr(3, 1001)};
    for (int escapeAll : {0, 1}) {
        for (std::size_t chunk : {1u, 2u, 9u, 4096u}) {
            for (const auto& data : payloads) {
                for (unsigned char end : {Core::ZCRCE, Core::ZCRCG, Core::ZCRCQ, Core::ZCRCW}) {
                    std::string wire = encode(data, end, escapeAll);
                    expectEscaped(wire, escapeAll != 0);
                    TestSupport::ScriptedDevice in(wire + wire, chunk);
                    CZModemCore core(&in, false);
                    core.setEscapeAll(escapeAll);
                    core.setPosition(100);
                    ASSERT_EQ(ZModemErrors::ResultFrameEnd + end, core.getData()) << chunk << " " << data.size();
                    ASSERT_EQ(data, core.getDataBuffer().toString().str());
                    EXPECT_EQ(100 + static_cast<long>(data.size()), core.getPosition());
                    core.getDataBuffer().clear();
                    ASSERT_EQ(ZModemErrors::ResultFrameEnd + end, core.getData());
                    ASSERT_EQ(data, core.getDataBuffer().toString().str());
                }
            }
        }
    }
    // A damaged subpacket is a CRC error and leaves the position alone.
    std::string wire = encode(TestSupport::randomBytes(500, 5), Core::ZCRCW);
    wire[100] = static_cast<char>(wire[100] == 'a' ? 'b' : 'a');
    TestSupport::ScriptedDevice in(wire);
    CZModemCore core(&in, false);
    core.setPosition(7);
    EXPECT_EQ(ZModemErrors::ErrBinCrc, core.getData());
    EXPECT_EQ(7, core.getPosition());
}

TEST(CZModemCoreFraming, HeldBackHeaderLeavesWithItsSubpacketInOneWrite) {
    SinkGuard sink;
    TestSupport::ScriptedDevice out;
    CZModemCore core(&out, false);
    core.getComm()->setDirect(false);
    ASSERT_EQ(0, core.sendZDATA(0));
    core.getComm()->setDirect(true);
    EXPECT_TRUE(out.writes().empty());
    ASSERT_EQ(0, core.sendData32(reinterpret_cast<const unsigned char*>("abc"), 3, Core::ZCRCE));
    ASSERT_EQ(1u, out.writes().size());
    TestSupport::ScriptedDevice in(out.written());
    CZModemCore reader(&in, false);
    ASSERT_EQ(0, reader.getZMHeader(10));
    EXPECT_EQ(Core::ZDATA, reader.getHeaderType());
    EXPECT_EQ(ZModemErrors::ResultFrameEnd + Core::ZCRCE, reader.getData());
    for (const char* line : {"sent Bin32Header ZDATA\n", "sendData 3 (9) Bytes\n", "got Binary32Header ZDATA\n"})
        EXPECT_EQ(1, linesEqual(line)) << line;
}

// Random bytes, raw and around real frames, never crash the decoders; every
// call ends (the input is finite and the script device never waits).
TEST(CZModemCoreHostile, RandomInputIntoHeaderAndDataReaders) {
    std::mt19937 gen(42);
    for (int round = 0; round < 300; ++round) {
        std::string junk = TestSupport::randomBytes(1 + gen() % 3000, static_cast<unsigned>(round));
        if (round % 3 == 1) junk = "**" + kZdle + "B" + junk;
        if (round % 3 == 2) junk = "*" + kZdle + "C" + junk;
        TestSupport::ScriptedDevice in(junk, 1 + gen() % 64);
        CZModemCore core(&in, false);
        core.setEscapeAll(round % 2);
        for (int k = 0; k < 50; ++k) {
            int r = core.getZMHeader(1);
            if (r == 0) {
                EXPECT_TRUE(core.isHeaderComplete());
                EXPECT_GE(core.getHeaderType(), 0);
                EXPECT_LE(core.getHeaderType(), 255);
            }
            std::size_t before = core.getDataBuffer().size();
            core.getData();
            EXPECT_LE(core.getDataBuffer().size(), before + junk.size());
            if (core.getSize() == 0) break;
        }
    }
}

}  // namespace
