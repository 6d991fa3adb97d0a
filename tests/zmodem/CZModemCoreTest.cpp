#include "zmodem/CZModemCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <random>

#include "base/Exception.h"
#include "base/HexDump.h"
#include "support/ZModemLink.h"
#include "zmodem/CZModemComm.h"
#include "zmodem/ZModemDebugSink.h"
#include "zmodem/ZModemErrors.h"

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
    ZModemScriptDevice out;
    CZModemCore core(&out, false);
    core.setEscapeAll(escapeAll);
    EXPECT_EQ(0, core.sendData32(reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()), end));
    EXPECT_EQ(1u, out.writes().size());
    return out.written();
}

TEST(CZModemCoreFraming, NullDeviceThrowsCodeZero) {
    try {
        CZModemCore core(nullptr, false);
        FAIL() << "no exception";
    } catch (const Base::Exception& e) {
        EXPECT_EQ(0u, e.getErrorCode());
    }
}

TEST(CZModemCoreFraming, EmptyZcrceSubpacketIsFrameEndAndEscapedCrcOfH) {
    // CRC-32 of "h" is 916B06E7: sent least significant first, 91 escaped.
    EXPECT_EQ(bytesOf({0x18, 'h', 0xE7, 0x06, 0x6B, 0x18, 0xD1}), encode("", Core::ZCRCE));
}

TEST(CZModemCoreFraming, CrIsEscapedAfterAtSignOnly) {
    std::string afterAt = encode("@\r", Core::ZCRCW);
    std::string afterA = encode("A\r", Core::ZCRCW);
    EXPECT_EQ(bytesOf({'@', 0x18, 0x4D}), afterAt.substr(0, 3));
    EXPECT_EQ(bytesOf({'A', 0x0D, 0x18}), afterA.substr(0, 3));
    // 8D after C0 (the same rule modulo 80 hex).
    EXPECT_EQ(bytesOf({0xC0, 0x18, 0xCD}), encode("\xC0\x8D", Core::ZCRCW).substr(0, 3));
}

TEST(CZModemCoreFraming, AlwaysEscapedBytesAndOnlyThose) {
    struct Row {
        int byte;
        std::string wire;
    } rows[] = {{0x18, bytesOf({0x18, 0x58})}, {0x11, bytesOf({0x18, 0x51})}, {0x13, bytesOf({0x18, 0x53})},
                {0x10, bytesOf({0x18, 0x50})}, {0x90, bytesOf({0x18, 0xD0})}, {0x91, bytesOf({0x18, 0xD1})},
                {0x93, bytesOf({0x18, 0xD3})}, {0x12, bytesOf({0x12})},       {0x05, bytesOf({0x05})},
                {0x7F, bytesOf({0x7F})},       {0xFF, bytesOf({0xFF})},       {0x0D, bytesOf({0x0D})}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.byte);
        std::string wire = encode(bytesOf({'x', row.byte}), Core::ZCRCG);
        EXPECT_EQ(row.wire, wire.substr(1, row.wire.size()));
        EXPECT_EQ(kZdle + "i", wire.substr(1 + row.wire.size(), 2));
    }
    // With escape-all every control character goes escaped, CR included.
    EXPECT_EQ(bytesOf({'x', 0x18, 0x45, 0x18, 0x4D}), encode("x\x05\r", Core::ZCRCW, 1).substr(0, 5));
}

// The word-at-a-time encoder against a byte-by-byte statement of the rules,
// on data dense in the bytes the rules are about, at every offset.
std::string referenceEscape(const std::string& data, unsigned char& previous, bool escapeAll) {
    std::string out;
    for (unsigned char c : data) {
        bool always = c == 0x10 || c == 0x11 || c == 0x13 || c == 0x18 || c == 0x90 || c == 0x91 || c == 0x93;
        bool cr = (c & 0x7F) == 0x0D;
        bool control = (c & 0x60) == 0;
        bool escape = always || (cr && (escapeAll || (previous & 0x7F) == '@')) || (control && escapeAll);
        if (escape) {
            out += '\x18';
            c ^= 0x40;
        }
        out += static_cast<char>(c);
        previous = c;
    }
    return out;
}

TEST(CZModemCoreFraming, EscapingMatchesTheRulesOnDenseData) {
    const unsigned char alphabet[] = {0x0D, 0x8D, '@', 0xC0, 0x10, 0x11, 0x12, 0x13, 0x18, 0x90,
                                      0x91, 0x92, 0x93, 0x98, 0x00, 0x05, 'A',  0x7F, 0xFF, 0x4D};
    std::mt19937 gen(7);
    for (int escapeAll : {0, 1}) {
        for (int round = 0; round < 400; ++round) {
            std::string data(static_cast<std::size_t>(gen() % 1025), '\0');
            for (auto& c : data) c = static_cast<char>(gen() % 3 ? alphabet[gen() % sizeof(alphabet)] : gen());
            std::string wire = encode(data, Core::ZCRCW, escapeAll);
            // The previous-byte memory is process-wide: read it back from the
            // first byte, which the reference decides with the same memory.
            std::string expectedA, expectedB;
            unsigned char at = '@', other = 'x';
            expectedA = referenceEscape(data, at, escapeAll != 0);
            expectedB = referenceEscape(data, other, escapeAll != 0);
            EXPECT_TRUE(wire.compare(0, expectedA.size(), expectedA) == 0 ||
                        wire.compare(0, expectedB.size(), expectedB) == 0)
                << "round " << round << " size " << data.size();
        }
    }
}

TEST(CZModemCoreFraming, SubpacketLargerThanTheBlockBufferIsRefused) {
    ZModemScriptDevice out;
    CZModemCore core(&out, false);
    std::string full(1024, '\x18');  // 2048 bytes escaped: fits
    EXPECT_EQ(0, core.sendData32(reinterpret_cast<const unsigned char*>(full.data()), 1024, Core::ZCRCW));
    std::string over(2100, '\x18');  // 4200 bytes escaped: does not
    EXPECT_EQ(ZModemErrors::ErrDataWrite,
              core.sendData32(reinterpret_cast<const unsigned char*>(over.data()), 2100, Core::ZCRCW));
    EXPECT_EQ(1u, out.writes().size());
}

TEST(CZModemCoreFraming, HexHeaderBytesAndLengths) {
    ZModemScriptDevice out;
    CZModemCore core(&out, false);
    ASSERT_EQ(0, core.sendZRINIT(0));
    EXPECT_EQ("**" + kZdle + "B0100000023be50\r\n\x11", out.written());
    for (int type = 0; type <= 19; ++type) {
        out.clearWrites();
        unsigned char d[4] = {1, 2, 3, 4};
        core.setHeader(Core::ZHEX, type, d);
        ASSERT_EQ(0, core.sendHeader());
        ASSERT_EQ(1u, out.writes().size());
        EXPECT_EQ(type == Core::ZACK || type == Core::ZFIN ? 20u : 21u, out.written().size()) << type;
    }
}

TEST(CZModemCoreFraming, WrongHeaderFormatIsMinusOne) {
    SinkGuard sink;
    ZModemScriptDevice out;
    CZModemCore core(&out, false);
    core.setHeader('A', Core::ZFIN, nullptr);
    EXPECT_EQ(-1, core.sendHeader());
    EXPECT_EQ(std::vector<std::string>{"wrong headertype\n"}, gLines);
}

TEST(CZModemCoreFraming, HeaderTypeNames) {
    EXPECT_EQ("ZRQINIT", Core::GetHeaderType(0));
    EXPECT_EQ("ZFREECNT", Core::GetHeaderType(17));
    EXPECT_EQ("ZSTDERR", Core::GetHeaderType(19));
    EXPECT_EQ("unbekannt", Core::GetHeaderType(20));
    EXPECT_EQ("unbekannt", Core::GetHeaderType(-1));
}

// Every header type, both formats, survives the trip through a peer core,
// whatever the chunking of the input.
TEST(CZModemCoreFraming, HeadersRoundTripAcrossChunkings) {
    for (std::size_t chunk : {1u, 3u, 7u, 1000u}) {
        for (unsigned char format : {Core::ZHEX, Core::ZBIN32}) {
            for (int type = 0; type <= 19; ++type) {
                ZModemScriptDevice out;
                CZModemCore sender(&out, false);
                unsigned char d[4] = {0x18, 0x11, static_cast<unsigned char>(type), 0x8D};
                sender.setHeader(format, type, d);
                ASSERT_EQ(0, sender.sendHeader());
                ZModemScriptDevice in("garbage*x*" + out.written(), chunk);
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

TEST(CZModemCoreFraming, UppercaseHexHeaderIsRefused) {
    ZModemScriptDevice digit("0A");
    CZModemCore core1(&digit, false);
    EXPECT_EQ(ZModemErrors::ErrHexDigit, core1.getNextHexCh(10));

    std::string upper = "**" + kZdle + "B0100000023BE50\r\n\x11";
    ZModemScriptDevice in(upper);
    CZModemCore core(&in, false);
    EXPECT_EQ(ZModemErrors::ErrHexDigit, [&] {
        ZModemScriptDevice body(upper.substr(4));
        CZModemCore c(&body, false);
        return c.getHexHeader();
    }());
    EXPECT_EQ(ZModemErrors::ErrTimeout, core.getZMHeader(10));
    EXPECT_FALSE(core.isHeaderComplete());
}

TEST(CZModemCoreFraming, HexHeaderCrcMismatch) {
    SinkGuard sink;
    ZModemScriptDevice body("0100000023be51\r\n\x11");
    CZModemCore core(&body, false);
    EXPECT_EQ(ZModemErrors::ErrHexCrc, core.getHexHeader());
    EXPECT_EQ(1, std::count(gLines.begin(), gLines.end(), "set error ZMODEM_CRCXM\n"));
    EXPECT_EQ(1, std::count(gLines.begin(), gLines.end(), "got HexHeader ZRINIT\n"));
}

TEST(CZModemCoreFraming, BinaryCrc16HeaderIsNotRecognised) {
    ZModemScriptDevice in("*" + kZdle + "A" + bytesOf({1, 0, 0, 0, 0x23, 0x12, 0x34}));
    CZModemCore core(&in, false);
    EXPECT_EQ(ZModemErrors::ErrTimeout, core.getZMHeader(10));
}

TEST(CZModemCoreFraming, Binary32HeaderCrcMismatch) {
    ZModemScriptDevice out;
    CZModemCore sender(&out, false);
    ASSERT_EQ(0, sender.sendZDATA(1234));
    std::string wire = out.written();
    wire[4] ^= 0x01;  // first position byte
    ZModemScriptDevice body(wire.substr(3));
    CZModemCore core(&body, false);
    EXPECT_EQ(ZModemErrors::ErrBinCrc, core.getBin32Header());
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
        {kZdle, ZModemErrors::ErrTimeout, 0},
    };
    for (const auto& row : rows) {
        ZModemScriptDevice in(row.wire, 1);
        CZModemCore core(&in, false);
        int r = core.getNextDLECh(5);
        EXPECT_EQ(row.result, r) << Base::HexDump::dump(row.wire.data(), row.wire.size()).str();
        if (r == 0 || r == ZModemErrors::ResultSpecial) {
            EXPECT_EQ(row.current, core.getCurrentCh());
        }
    }
}

TEST(CZModemCoreFraming, EscapeAllDropsUnescapedControlCharacters) {
    ZModemScriptDevice in("a\x05" "b" + kZdle + "C");
    CZModemCore core(&in, false);
    core.setEscapeAll(1);
    ASSERT_EQ(0, core.getNextDLECh(5));
    EXPECT_EQ('a', core.getCurrentCh());
    ASSERT_EQ(0, core.getNextDLECh(5));
    EXPECT_EQ('b', core.getCurrentCh());
    ASSERT_EQ(0, core.getNextDLECh(5));
    EXPECT_EQ(0x03u, core.getCurrentCh());
}

TEST(CZModemCoreFraming, FiveZdlesCancelASubpacket) {
    ZModemScriptDevice in("abc" + std::string(5, '\x18'));
    CZModemCore core(&in, false);
    EXPECT_EQ(ZModemErrors::ErrProtocol, core.getData());
}

// Subpackets of every byte value round-trip through getData, whatever the
// chunking, with and without escape-all; the position advances by the length.
TEST(CZModemCoreFraming, SubpacketsRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string payloads[] = {"", "@\r@\r", all, zmodemRandomBytes(1024, 9), std::string(1024, '\x18')};
    for (int escapeAll : {0, 1}) {
        for (std::size_t chunk : {1u, 2u, 9u, 4096u}) {
            for (const auto& data : payloads) {
                for (unsigned char end : {Core::ZCRCE, Core::ZCRCG, Core::ZCRCQ, Core::ZCRCW}) {
                    std::string wire = encode(data, end, escapeAll);
                    ZModemScriptDevice in(wire + wire, chunk);
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
}

TEST(CZModemCoreFraming, CorruptSubpacketIsACrcError) {
    std::string wire = encode(zmodemRandomBytes(500, 5), Core::ZCRCW);
    wire[100] = static_cast<char>(wire[100] == 'a' ? 'b' : 'a');
    ZModemScriptDevice in(wire);
    CZModemCore core(&in, false);
    core.setPosition(7);
    EXPECT_EQ(ZModemErrors::ErrBinCrc, core.getData());
    EXPECT_EQ(7, core.getPosition());
}

TEST(CZModemCoreFraming, HeldBackHeaderLeavesWithItsSubpacketInOneWrite) {
    SinkGuard sink;
    ZModemScriptDevice out;
    CZModemCore core(&out, false);
    core.getComm()->setDirect(false);
    ASSERT_EQ(0, core.sendZDATA(0));
    core.getComm()->setDirect(true);
    EXPECT_TRUE(out.writes().empty());
    ASSERT_EQ(0, core.sendData32(reinterpret_cast<const unsigned char*>("abc"), 3, Core::ZCRCE));
    ASSERT_EQ(1u, out.writes().size());
    ZModemScriptDevice in(out.written());
    CZModemCore reader(&in, false);
    ASSERT_EQ(0, reader.getZMHeader(10));
    EXPECT_EQ(Core::ZDATA, reader.getHeaderType());
    EXPECT_EQ(ZModemErrors::ResultFrameEnd + Core::ZCRCE, reader.getData());
    EXPECT_NE(gLines.end(), std::find(gLines.begin(), gLines.end(), "sent Bin32Header ZDATA\n"));
    EXPECT_NE(gLines.end(), std::find(gLines.begin(), gLines.end(), "sendData 3 (9) Bytes\n"));
    EXPECT_NE(gLines.end(), std::find(gLines.begin(), gLines.end(), "got Binary32Header ZDATA\n"));
}

TEST(CZModemCoreFraming, ShorthandsAndRawStrings) {
    ZModemScriptDevice out;
    CZModemCore core(&out, false);
    core.sendrz();
    core.sendOO();
    EXPECT_EQ("rz\rOO", out.written());
    out.clearWrites();
    // ZACK with position 0 repeats the header data it holds.
    unsigned char d[4] = {9, 8, 7, 6};
    core.setHeader(Core::ZHEX, Core::ZFREECNT, d);
    core.sendZACK(0);
    ZModemScriptDevice in(out.written());
    CZModemCore reader(&in, false);
    ASSERT_EQ(0, reader.getZMHeader(10));
    EXPECT_EQ(Core::ZACK, reader.getHeaderType());
    EXPECT_EQ(0x06070809, reader.getHeaderPosition());
    // ZRQINIT with the command flag, ZRPOS least significant byte first.
    out.clearWrites();
    core.sendZRQInit_X(1);
    core.sendZRPOS(0x01020304);
    EXPECT_EQ("**" + kZdle + "B0000000012", out.writes()[0].substr(0, 14));
    EXPECT_EQ("**" + kZdle + "B0904030201", out.writes()[1].substr(0, 14));
}

TEST(CZModemCoreFraming, TimeoutLine) {
    SinkGuard sink;
    ZModemScriptDevice in("");
    CZModemCore core(&in, false);
    EXPECT_EQ(ZModemErrors::ErrTimeout, core.getNextCh(1));
    EXPECT_EQ(std::vector<std::string>{"Timeout getNextCh\n"}, gLines);
}

// Random bytes, raw and around real frames, never crash the decoders; every
// call ends (the input is finite and the script device never waits).
TEST(CZModemCoreHostile, RandomInputIntoHeaderAndDataReaders) {
    std::mt19937 gen(42);
    for (int round = 0; round < 300; ++round) {
        std::string junk = zmodemRandomBytes(1 + gen() % 3000, static_cast<unsigned>(round));
        if (round % 3 == 1) junk = "**" + kZdle + "B" + junk;
        if (round % 3 == 2) junk = "*" + kZdle + "C" + junk;
        ZModemScriptDevice in(junk, 1 + gen() % 64);
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
