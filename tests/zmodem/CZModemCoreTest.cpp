// ZMODEM framing: subpackets, binary and hex headers across chunkings, damaged input, and copies.
#include <varonet/zmodem/CZModemCore.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <varonet/base/detail/Crc.h>
#include <varonet/base/detail/HexDump.h>
#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/detail/CZModemComm.h>

#include "support/Files.h"
#include "zmodem/ZModemTestKit.h"

using namespace ZModemTestKit;
using E = ZModem::ZModemErrors;

namespace {

const std::string kZdle(1, '\x18');

// A subpacket as the rule says: data escaped, the frame end bare, then the
// CRC-32 bytes, escaped.
std::string escaped(const std::string& data, unsigned char end, bool all) {
    unsigned char previous = 0;
    std::string wire = escapeByRule(data, previous, all) + kZdle + static_cast<char>(end);
    Math::Crc crc(Math::Crc::Crc32);
    crc.update(data.data(), data.size());
    crc.update(end);
    std::string bytes(4, '\0');
    for (int k = 0; k < 4; ++k) bytes[k] = static_cast<char>(crc.getCRC() >> (8 * k));
    return wire + escapeByRule(bytes, previous, all);
}

// Every subpacket leaves in one write exactly as the rule says and comes back
// whole, whatever the chunking, with and without escape-all.
TEST(CZModemCoreFraming, SubpacketsFollowTheEscapingRuleAndRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    // clang-format off
    const std::string bytes = dense(1100, 7);
    // 'x' first: the rule for a first CR looks at the byte before the subpacket.
    const std::string payloads[] = {"x", "x@\r@\x8d\xc0\x8d", "x" + all, "x" + TestSupport::randomBytes(1024, 9), "x" + std::string(1100, '\x18'), "x" + bytes, "x" + bytes.substr(5, 77)};
    // clang-format on
    for (int escapeAll : {0, 1}) {
        for (const auto& data : payloads) {
            for (unsigned char end : {Core::ZCRCE, Core::ZCRCG, Core::ZCRCQ, Core::ZCRCW}) {
                const std::string wire = sub(data, end, escapeAll);
                ASSERT_EQ(escaped(data, end, escapeAll != 0), wire) << data.size() << " " << escapeAll;
                for (std::size_t chunk : {1u, 9u, 4096u}) {
                    TestSupport::ScriptedDevice in(wire + wire, chunk);
                    Core reader(&in, false);
                    reader.setEscapeAll(escapeAll);
                    for (int twice = 0; twice < 2; ++twice) {
                        reader.getDataBuffer().clear();
                        ASSERT_EQ(E::ResultFrameEnd + end, reader.getData()) << chunk;
                        ASSERT_EQ(data, reader.getDataBuffer().toString().str());
                    }
                    EXPECT_EQ(2 * static_cast<long>(data.size()), reader.getPosition());
                }
            }
        }
    }
    // The empty ZCRCE subpacket: ZDLE "h" and the CRC-32 of "h" (916B06E7), 91 escaped.
    EXPECT_EQ(std::string("\x18h\xe7\x06k\x18\xd1"), sub("", Core::ZCRCE));
    // One whose escaped form does not fit the block buffer is refused, not sent.
    TestSupport::ScriptedDevice out;
    std::string over(2100, '\x18');
    EXPECT_EQ(E::ErrDataWrite,
              Core(&out, false).sendData32(reinterpret_cast<const unsigned char*>(over.data()), 2100, 'k'));
    EXPECT_TRUE(out.writes().empty());
}

// Every header type, both formats, goes out in one write (a hex one with XON
// at the end but after ZACK and ZFIN: 21 bytes, those 20) and is read back
// behind garbage, whatever the chunking.
TEST(CZModemCoreFraming, HeadersRoundTripAcrossChunkings) {
    for (std::size_t chunk : {1u, 3u, 1000u}) {
        for (unsigned char format : {Core::ZHEX, Core::ZBIN32}) {
            for (int type = 0; type <= 19; ++type) {
                const unsigned long data = 0x8D000011UL | static_cast<unsigned long>(type) << 16 | 0x1800;
                const std::string wire = frame(type, data, format);
                const std::size_t length = type == Core::ZACK || type == Core::ZFIN ? 20u : 21u;
                EXPECT_EQ(format == Core::ZHEX ? length : wire.size(), wire.size()) << type;
                TestSupport::ScriptedDevice in("garbage*x*" + wire, chunk);
                Core receiver(&in, false);
                ASSERT_EQ(0, receiver.getZMHeader(100)) << type << " " << format << " " << chunk;
                EXPECT_EQ(type, receiver.getHeaderType());
                EXPECT_EQ(format, receiver.getHeaderFormat());
                EXPECT_EQ(static_cast<long>(data), receiver.getHeaderPosition());
            }
        }
    }
}

TEST(CZModemCoreFraming, HexHeaderWireAndFormats) {
    DebugLines lines;
    TestSupport::ScriptedDevice out;
    Core core(&out, false);
    core.sendZRINIT(0);
    EXPECT_EQ("**" + kZdle + "B0100000023be50\r\n\x11", out.written());
    // ZACK with position 0 repeats the header data held (the answer to ZFREECNT).
    const unsigned char held[4] = {9, 8, 7, 6};
    core.setHeader(Core::ZHEX, Core::ZFREECNT, held);
    core.sendZACK(0);
    EXPECT_EQ("ZACK:101124105", headers(out.writes().back()));
    // A format that is neither hex nor binary-32 is refused.
    core.setHeader('A', Core::ZFIN, nullptr);
    EXPECT_EQ(-1, core.sendHeader());
    EXPECT_EQ(1, lines.count("wrong headertype\n"));
}

// The read buffer keeps what it holds: a wait with one byte left answers at
// once, and what follows a cancel sequence is read next. The round-trip
// estimate smooths as TCP's timer does (gains 1/8 and 1/4, four deviations)
// and rounds up to whole milliseconds.
TEST(CZModemCoreFraming, TheLinkKeepsWhatItReadAndEstimatesRoundTrips) {
    TestSupport::ScriptedDevice one("A"), two("AB"),
        in(std::string(11, '\x18') + std::string(10, '\b') + frame(Core::ZRINIT));
    Core core(&two, false), cancelled(&in, false);
    core.getNextCh(1);
    EXPECT_TRUE(core.waitForData(0));
    EXPECT_TRUE(Core(&one, false).waitForData(0));  // a single byte arriving
    EXPECT_EQ(E::ErrCancelled, cancelled.getZMHeader(1));
    EXPECT_EQ(0, cancelled.getZMHeader(1));
    core.noteRoundTrip(1000);
    EXPECT_EQ(3, core.roundTripTimeout(0, 100));
    core.noteRoundTrip(9000);
    EXPECT_EQ(12, core.roundTripTimeout(0, 100));
}

// Each reader on input that is damaged, foreign or escaped: its result and,
// where it read one, the character. XON and XOFF are dropped inside an escape
// and outside, with escape-all a bare control character too (also inside an
// escape); uppercase hex is not hex, and a header spelled with it is never found.
TEST(CZModemCoreFraming, ReadersOnDamagedForeignAndEscapedInput) {
    enum Reader { Dle, HexCh, HexHeader, Bin32Header, Header, Data };
    const std::string upper = "**" + kZdle + "B0100000023BE50\r\n\x11";
    std::string bin = frame(Core::ZDATA, 1234, Core::ZBIN32);
    bin[4] ^= 0x01;  // the first position byte
    std::string damaged = sub(TestSupport::randomBytes(500, 5));
    damaged[100] = static_cast<char>(damaged[100] == 'a' ? 'b' : 'a');
    // clang-format off
    const struct { Reader reader; std::string wire; int escapeAll, result, current; } rows[] = {
        {Dle, kZdle + "l", 0, 0, 0x7F}, {Dle, kZdle + "m", 0, 0, 0xFF}, {Dle, kZdle + "X", 0, 0, 0x18},
        {Dle, kZdle + "h", 0, E::ResultSpecial, 'h'}, {Dle, kZdle + "k", 0, E::ResultSpecial, 'k'},
        {Dle, std::string(5, '\x18'), 0, E::ResultSpecial, 0x18},
        {Dle, kZdle + "\x11\x93X", 0, 0, 0x18}, {Dle, "\021\221\023\223A", 0, 0, 'A'}, {Dle, "\005A", 1, 0, 'A'},
        {Dle, kZdle + "\005C", 1, 0, 0x03},
        {Dle, kZdle + "\x05", 0, E::ErrProtocol, -1}, {Dle, kZdle, 0, E::ErrLinkTimeout, -1},
        {HexCh, "0A", 0, E::ErrHexDigit, -1}, {HexHeader, upper.substr(4), 0, E::ErrHexDigit, -1}, {Header, upper, 0, E::ErrLinkTimeout, -1},
        {Header, "*" + kZdle + "A" + std::string("\1\0\0\0\x23\x12\x34", 7), 0, E::ErrLinkTimeout, -1},  // CRC-16 binary
        {HexHeader, "0100000023be51\r\n\x11", 0, E::ErrHexCrc, -1},
        {Bin32Header, bin.substr(3), 0, E::ErrBinCrc, -1}, {Data, damaged, 0, E::ErrBinCrc, -1},
        {Data, "abc" + std::string(5, '\x18'), 0, E::ErrProtocol, -1},  // five ZDLE cancel a subpacket
        {Data, "\005" + sub("A\001", Core::ZCRCW, 1), 1, E::ResultFrameEnd + Core::ZCRCW, Core::ZCRCW},  // noise dropped
    };
    // clang-format on
    DebugLines lines;
    for (const auto& row : rows) {
        TestSupport::ScriptedDevice in(row.wire, 1);
        Core core(&in, false);
        core.setEscapeAll(row.escapeAll);
        const int r = row.reader == Dle           ? core.getNextDLECh(5)
                      : row.reader == HexCh       ? core.getNextHexCh(10)
                      : row.reader == HexHeader   ? core.getHexHeader()
                      : row.reader == Bin32Header ? core.getBin32Header()
                      : row.reader == Header      ? core.getZMHeader(10)
                                                  : core.getData();
        EXPECT_EQ(row.result, r) << Base::HexDump::dump(row.wire.data(), row.wire.size()).str();
        EXPECT_EQ(row.current, row.current < 0 ? -1 : static_cast<int>(core.getCurrentCh()));
        EXPECT_EQ(row.reader != Header && core.isHeaderComplete(), core.isHeaderComplete());
    }
    EXPECT_EQ(1, lines.count("set error ZMODEM_CRCXM\n"));
    const int timeouts = lines.count("Timeout getNextCh\n");  // a time-out is one line
    TestSupport::ScriptedDevice empty;
    EXPECT_EQ(E::ErrLinkTimeout, Core(&empty, false).getNextCh(1));
    EXPECT_EQ(timeouts + 1, lines.count("Timeout getNextCh\n"));
}

// A copy carries every setting and all session state, talks to the same
// device and shares no link or file object with the original.
TEST(CZModemCoreCopy, ACopyCarriesEveryField) {
    struct Probe : Opened<ZModem::CZModem> {
        using Opened::Opened;
        void fill(const ZModem::CZModemCoreFields& f) { static_cast<ZModem::CZModemCoreFields&>(*this) = f; }
    };
    // One name per field: a field added to the struct does not compile here
    // until it has a value of its own.
    // clang-format off
    const ZModem::CZModemCoreFields filled{7, 1, 3, 4, true, 'C', 5, {1, 2, 3, 4}, 2, Base::ByteArray::fromString("d"), 6, 7, 35, true, 8, 9,
                                           Base::ByteArray::fromString("read"), 1, 2, 'B', 10, 11, 12, true, true, true, true};
    [[maybe_unused]] const auto& [unit, escapeAll, fileSize, current, complete, format, type, data, kind, buffer, position, length,
                                  receiverFlags, skip, blockSize, requested, readBuffer, readPos, readLeft, received, gap, roundTrip,
                                  roundTripVar, damaged, lines, silence, stray] = filled;
    // clang-format on
    TestSupport::ScriptedDevice line, other;
    Probe original(&line);
    original.fill(filled);
    original.set_path("p");
    Probe copy(original), assigned(&other);
    assigned = original;
    for (const Probe* c : {&copy, &assigned}) {
        EXPECT_TRUE(c->fields() == filled);
        EXPECT_EQ(&line, c->getComm()->getDevice());
        EXPECT_EQ(&line, c->getDevice());
        EXPECT_NE(original.getComm(), c->getComm());
        EXPECT_NE(original.getFile(), c->getFile());
        EXPECT_EQ("p", c->get_path().str());
    }
}

}  // namespace
