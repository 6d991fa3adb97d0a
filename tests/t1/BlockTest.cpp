#include <varonet/t1/Block.h>

#include <gtest/gtest.h>

#include "support/ScriptedDevice.h"
#include "support/TestCalls.h"

#include <functional>
#include <string>
#include <thread>

#include <varonet/base/Crc.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/HexDump.h>
#include <varonet/base/MemoryDevice.h>
#include "peers/T1Node.h"
#include <varonet/t1/EDCException.h>
#include <varonet/t1/Frame.h>
#include <varonet/t1/InformationBlock.h>
#include <varonet/t1/ReceiveReadyBlock.h>
#include <varonet/t1/SupervisoryBlock.h>
#include <varonet/t1/T1Errors.h>

using namespace T1;
using Bytes = T1Peer::Bytes;

namespace {

using TestSupport::codeOf;

Bytes toBytes(const Base::ByteArray& a) { return Bytes(a.data(), a.data() + a.size()); }
Base::ByteArray pattern(std::size_t n, unsigned seed = 1) {
    Base::ByteArray a(n);
    for (std::size_t i = 0; i < n; ++i) a[i] = static_cast<unsigned char>(i * 31 + seed);
    return a;
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::unique_ptr<Block> decode(const Bytes& wire, unsigned int bwt = 0, unsigned int cwt = 0) {
    Base::MemoryDevice device(reinterpret_cast<const char*>(wire.data()), static_cast<long>(wire.size()));
    return std::unique_ptr<Block>(Block::readBlock(&device, bwt, cwt));
}

}  // namespace

TEST(NodeAddress, DefaultIsInvalidAndEqualityIgnoresValidity) {
    EXPECT_FALSE(NodeAddress().isValid());
    EXPECT_TRUE(NodeAddress(0).isValid());
    EXPECT_TRUE(NodeAddress() == NodeAddress(0));
    EXPECT_FALSE(NodeAddress(0x12) == NodeAddress(0x13));
}

// Every block kind against the independent node's encoder, written in one write.
TEST(BlockEncoding, WireBytesOfEveryKind) {
    struct Case {
        const char* name;
        std::unique_ptr<Block> block;
        Bytes wire;
    };
    const NodeAddress node(0x12);
    std::vector<Case> cases;
    cases.push_back({"empty I-block", std::make_unique<InformationBlock>(node, Base::ByteArray(), false, true, 254),
                     {0x12, 0x00, 0x00, 0x12}});
    cases.push_back({"I seq 1 more", std::make_unique<InformationBlock>(node, Base::ByteArray{0xAA}, true, false, 254),
                     {0x12, 0x60, 0x01, 0xAA, 0x12 ^ 0x60 ^ 0x01 ^ 0xAA}});
    cases.push_back({"R ok seq 1", std::make_unique<ReceiveReadyBlock>(node, true, ReceiveReadyBlock::NoError),
                     {0x12, 0x90, 0x00, 0x82}});
    cases.push_back({"R edc seq 0", std::make_unique<ReceiveReadyBlock>(node, false, ReceiveReadyBlock::ParityError),
                     {0x12, 0x81, 0x00, 0x93}});
    cases.push_back({"R time-out goes out as 2",
                     std::make_unique<ReceiveReadyBlock>(node, true, ReceiveReadyBlock::Timeout),
                     {0x12, 0x92, 0x00, 0x80}});
    cases.push_back({"S resynch request", std::make_unique<SupervisoryBlock>(node, 0, 0), {0x12, 0xC0, 0x00, 0xD2}});
    cases.push_back({"S resynch response", std::make_unique<SupervisoryBlock>(node, 0, 1), {0x12, 0xE0, 0x00, 0xF2}});
    // Size above 254 selects the extended form even for 10 bytes.
    cases.push_back({"I size 300, 10 bytes", std::make_unique<InformationBlock>(node, pattern(10), false, true, 300),
                     T1Peer::encode(0x12, 0x00, toBytes(pattern(10)), true)});
    cases.push_back({"I size 254, 254 bytes", std::make_unique<InformationBlock>(node, pattern(254), false, true, 254),
                     T1Peer::encode(0x12, 0x00, toBytes(pattern(254)), false)});
    // Data that cannot fit LEN goes out extended whatever the size says.
    cases.push_back({"I size 10, 300 bytes", std::make_unique<InformationBlock>(node, pattern(300), true, true, 10),
                     T1Peer::encode(0x12, 0x40, toBytes(pattern(300)), true)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSupport::ScriptedDevice out;
        c.block->writeTo(&out);
        ASSERT_EQ(out.writes().size(), 1u) << "one write per block";
        EXPECT_EQ(out.writes()[0], text(c.wire));
    }
    // The extended layout spelled out: LEN FF, BCD 00 00 00 10, CRC over INF low byte first.
    Bytes wire = toBytes(InformationBlock(node, pattern(10), false, true, 300).encode());
    ASSERT_EQ(wire.size(), 3u + 4 + 10 + 2);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 7), (Bytes{0x12, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x10}));
    const std::uint16_t crc = T1Peer::crc16(wire.data() + 7, 10);
    EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), (Bytes{std::uint8_t(crc & 0xFF), std::uint8_t(crc >> 8)}));

    TestSupport::ScriptedDevice shortWrite;
    shortWrite.shortenWrites(1);
    EXPECT_EQ(codeOf([&] { InformationBlock(node, pattern(20), false, true, 254).writeTo(&shortWrite); }),
              unsigned(ErrShortWrite));
}

TEST(Crc, PublishedCheckValueAndExtendedTrailer) {
    const char* check = "123456789";
    EXPECT_EQ(Math::Crc::iso3309(check, 9), 0x906E);
    EXPECT_EQ(T1Peer::crc16(reinterpret_cast<const std::uint8_t*>(check), 9), 0x906E) << "the node's own CRC agrees";
    Bytes wire = toBytes(InformationBlock(NodeAddress(0), Base::ByteArray(check, 9), false, true, 255).encode());
    EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), (Bytes{0x6E, 0x90})) << "check value, low byte first";
    Base::ByteArray data = pattern(600, 7);
    for (std::size_t n = 0; n <= data.size(); n += 37)
        EXPECT_EQ(Math::Crc::iso3309(data.data(), n), T1Peer::crc16(data.data(), n)) << n;
}

TEST(BlockReader, ClassifiesAndRendersByPcb) {
    struct Case {
        std::uint8_t pcb;
        unsigned int type;
        const char* text;
    };
    const Case cases[] = {
        {0x00, Block::Information, "12 I[more=0,seq=0]:\n"},
        {0x60, Block::Information, "12 I[more=1,seq=1]:\n"},
        {0x7F, Block::Information, "12 I[more=1,seq=1]:\n"},
        {0x80, Block::ReceiveReady, "12 R[seq=0,ok]\n"},
        {0xA0, Block::ReceiveReady, "12 R[seq=0,ok]\n"},  // bit 5 ignored
        {0x91, Block::ReceiveReady, "12 R[seq=1,parity/edc error]\n"},
        {0x83, Block::ReceiveReady, "12 R[seq=0,error]\n"},
        {0xC0, Block::Supervisory, "12 S[resynch,request]\n"},
        {0xE0, Block::Supervisory, "12 S[resynch,response]\n"},
        {0xC3, Block::Supervisory, "12 S[unsupported,request]\n"},
        {0xFF, Block::Supervisory, "12 S[unsupported,response]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pcb);
        auto block = decode(T1Peer::encode(0x12, c.pcb, {}));
        EXPECT_EQ(block->getType(), c.type);
        EXPECT_EQ(block->toString(), Base::String(c.text));
        EXPECT_EQ(block->getAddress().getNode(), 0x12);
    }
    auto r = decode(T1Peer::encode(0x12, 0x83, {}));
    EXPECT_EQ(static_cast<ReceiveReadyBlock*>(r.get())->getError(), 3u);
    EXPECT_FALSE(static_cast<ReceiveReadyBlock*>(r.get())->getSequence());
    auto s = decode(T1Peer::encode(0x12, 0xC3, {}));
    EXPECT_EQ(static_cast<SupervisoryBlock*>(s.get())->getSupervisoryType(), 3u);
    EXPECT_EQ(static_cast<SupervisoryBlock*>(s.get())->getResponse(), 0u);
    // With an information field the text ends in its dump, whatever the kind.
    const struct { std::uint8_t nad, pcb; const char* head; } withData[] = {
        {0x0A, 0x40, "0A I[more=0,seq=1]:\n"}, {0xFF, 0x90, "FF R[seq=1,ok]:\n"}, {0x00, 0xC1, "00 S[unsupported,request]:\n"}};
    for (const auto& c : withData)
        EXPECT_EQ(decode(T1Peer::encode(c.nad, c.pcb, {'A', 'B'}))->toString(),
                  Base::String(c.head) + Base::HexDump::dump(Base::ByteArray{'A', 'B'}));
}

TEST(BlockReader, InformationFieldsOfBothForms) {
    // LEN FF with 00 00 02 55 announces 255 bytes.
    Bytes wire = T1Peer::encode(0x12, 0x20, toBytes(pattern(255)), true);
    ASSERT_EQ(Bytes(wire.begin() + 2, wire.begin() + 7), (Bytes{0xFF, 0x00, 0x00, 0x02, 0x55}));
    for (long chunk : {1L, 2L, 3L, 7L, 64L, 4096L}) {
        SCOPED_TRACE(chunk);
        TestSupport::ScriptedDevice device(text(wire), static_cast<std::size_t>(chunk));
        std::unique_ptr<Block> block(Block::readBlock(&device, 0, 0));
        auto* info = dynamic_cast<InformationBlock*>(block.get());
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->getData(), pattern(255));
        EXPECT_FALSE(info->isLast());
        EXPECT_EQ(device.size(), 0);
    }
    // Even a short field may come in the extended form, and an empty one.
    for (std::size_t n : {0u, 1u, 254u})
        for (bool extended : {false, true})
            EXPECT_EQ(decode(T1Peer::encode(1, 0x00, toBytes(pattern(n)), extended))->getData(), pattern(n));
}

TEST(BlockReader, DetectsEveryFlippedBitInFieldAndCheck) {
    for (bool extended : {false, true}) {
        Bytes wire = T1Peer::encode(0x12, 0x40, toBytes(pattern(40)), extended);
        for (std::size_t at = extended ? 7 : 3; at < wire.size(); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                Bytes bad = wire;
                bad[at] ^= static_cast<std::uint8_t>(1 << bit);
                try {
                    decode(bad, 0, 5);
                    ADD_FAILURE() << "undetected flip at " << at << " bit " << bit << " extended " << extended;
                } catch (const EDCException& e) {
                    EXPECT_EQ(e.getErrorCode(), 3847u);
                    EXPECT_EQ(toBytes(e.getData()), bad) << "the failed block travels with the exception";
                }
            }
        }
    }
}

TEST(BlockReader, FailuresOfTheStream) {
    const Bytes good = T1Peer::encode(0x12, 0x00, {1, 2, 3});
    const auto cut = [&](std::size_t n) { return Bytes(good.begin(), good.begin() + static_cast<long>(n)); };
    // Nothing within the block waiting time, or the stream stops inside the
    // block with a character waiting time: a time-out.
    for (std::size_t n : {0u, 2u, 5u}) EXPECT_EQ(codeOf([&] { decode(cut(n), 5, 5); }), Base::TimeoutException::Code) << n;
    // Without waiting times the device's short read (3844), even after a huge length.
    for (std::size_t n : {0u, 1u, 2u, 4u, 6u}) EXPECT_EQ(codeOf([&] { decode(cut(n)); }), unsigned(ErrShortRead)) << n;
    EXPECT_EQ(codeOf([] { decode({0x12, 0x00, 0xFF, 0x99, 0x99, 0x99, 0x99, 1, 2, 3}); }), unsigned(ErrShortRead));
    // A length that is not decimal is a damaged block.
    EXPECT_THROW(decode({0x12, 0x00, 0xFF, 0x00, 0x00, 0x0A, 0x00, 1, 2}, 0, 5), EDCException);
}

TEST(BlockReader, WaitsForTheFirstByteAndEachFollowingOne) {
    Base::FifoDevice fifo(2000);
    Bytes wire = T1Peer::encode(0x12, 0x20, toBytes(pattern(600)), true);
    // With waiting times the reader waits for each piece; with both 0 it does
    // not wait but the FIFO's own read holds it until the writer delivers.
    for (unsigned int wait : {2000u, 0u}) {
        std::thread writer([&] {
            for (std::size_t at = 0; at < wire.size(); at += 97)
                fifo.write(reinterpret_cast<const char*>(wire.data() + at),
                           static_cast<long>(std::min<std::size_t>(97, wire.size() - at)));
        });
        std::unique_ptr<Block> block(Block::readBlock(&fifo, wait, wait));
        writer.join();
        EXPECT_EQ(block->getData(), pattern(600)) << wait;
    }
}
