// T=1 blocks: wire bytes of every kind, and the reader on both forms, any chunking and broken streams.
#include <varonet/t1/Block.h>

#include <gtest/gtest.h>

#include <string>

#include <varonet/base/MemoryDevice.h>
#include <varonet/base/detail/HexDump.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/InformationBlock.h>
#include <varonet/t1/ReceiveReadyBlock.h>
#include <varonet/t1/SupervisoryBlock.h>
#include <varonet/t1/T1Errors.h>

#include "peers/T1Node.h"
#include "support/Files.h"
#include "support/ScriptedDevice.h"
#include "support/T1NodeLink.h"
#include "support/TestCalls.h"

using namespace T1;
using T1Peer::Bytes;

namespace {

using TestSupport::array, TestSupport::bytes, TestSupport::codeOf;
std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::unique_ptr<Block> decode(const Bytes& wire, unsigned int bwt = 0, unsigned int cwt = 0) {
    Base::MemoryDevice device(reinterpret_cast<const char*>(wire.data()), static_cast<long>(wire.size()));
    return std::unique_ptr<Block>(Block::readBlock(&device, bwt, cwt));
}

}  // namespace

// Every block kind against the independent node's encoder, written in one write.
TEST(BlockEncoding, WireBytesOfEveryKind) {
    const NodeAddress node(0x12);
    using Sent = InformationBlock::Options;
    // clang-format off
    const struct { const char* name; std::shared_ptr<Block> block; Bytes wire; } cases[] = {
        {"empty I", std::make_shared<InformationBlock>(node, Base::ByteArray(), false, true, 254), {0x12, 0x00, 0x00, 0x12}},
        {"I seq 1 more", std::make_shared<InformationBlock>(node, Base::ByteArray{0xAA}, Sent{.sequence = true, .last = false}),
         {0x12, 0x60, 0x01, 0xAA, 0x12 ^ 0x60 ^ 0x01 ^ 0xAA}},
        {"R ok 1", std::make_shared<ReceiveReadyBlock>(node, true, ReceiveReadyBlock::NoError), {0x12, 0x90, 0x00, 0x82}},
        {"R edc 0", std::make_shared<ReceiveReadyBlock>(node, false, ReceiveReadyBlock::ParityError), {0x12, 0x81, 0x00, 0x93}},
        {"R time-out as 2", std::make_shared<ReceiveReadyBlock>(node, true, ReceiveReadyBlock::Timeout), {0x12, 0x92, 0x00, 0x80}},
        {"S request", std::make_shared<SupervisoryBlock>(node, 0, 0), {0x12, 0xC0, 0x00, 0xD2}},
        {"S response", std::make_shared<SupervisoryBlock>(node, 0, 1), {0x12, 0xE0, 0x00, 0xF2}},
        // The size decides the form: above 254 extended even for 10 bytes; data that cannot fit LEN always.
        {"size 300", std::make_shared<InformationBlock>(node, array(bytes(10)), Sent{.size = 300}), T1Peer::encode(0x12, 0x00, bytes(10), true)},
        {"size 254", std::make_shared<InformationBlock>(node, array(bytes(254)), Sent{}), T1Peer::encode(0x12, 0x00, bytes(254), false)},
        {"300 bytes", std::make_shared<InformationBlock>(node, array(bytes(300)), Sent{.sequence = true, .size = 10}), T1Peer::encode(0x12, 0x40, bytes(300), true)},
    };
    // clang-format on
    for (const auto& c : cases) {
        TestSupport::ScriptedDevice out;
        c.block->writeTo(&out);
        ASSERT_EQ(out.writes().size(), 1u) << c.name;
        EXPECT_EQ(out.writes()[0], text(c.wire)) << c.name;
    }
    EXPECT_EQ(cases[7].block->encode().toString().str().substr(0, 7), std::string("\x12\x00\xFF\x00\x00\x00\x10", 7));
    TestSupport::ScriptedDevice shortWrite;
    shortWrite.shortenWrites(1);
    EXPECT_EQ(codeOf([&] { cases[1].block->writeTo(&shortWrite); }), unsigned(ErrShortBlockWrite));
    EXPECT_TRUE(NodeAddress() == NodeAddress(0)) << "equality ignores validity";
    EXPECT_FALSE(NodeAddress().isValid());
}

TEST(BlockReader, ClassifiesAndRendersByPcb) {
    // clang-format off
    const struct { std::uint8_t pcb; unsigned int type; const char* text; } cases[] = {
        {0x00, Block::Information, "12 I[more=0,seq=0]:\n"}, {0x60, Block::Information, "12 I[more=1,seq=1]:\n"},
        {0x1F, Block::Information, "12 I[more=0,seq=0]:\n"}, {0x80, Block::ReceiveReady, "12 R[seq=0,ok]\n"},
        {0xA0, Block::ReceiveReady, "12 R[seq=0,ok]\n"}, {0x91, Block::ReceiveReady, "12 R[seq=1,parity/edc error]\n"},
        {0x83, Block::ReceiveReady, "12 R[seq=0,error]\n"}, {0xC0, Block::Supervisory, "12 S[resynch,request]\n"},
        {0xE0, Block::Supervisory, "12 S[resynch,response]\n"}, {0xC3, Block::Supervisory, "12 S[unsupported,request]\n"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto block = decode(T1Peer::encode(0x12, c.pcb, {}));
        EXPECT_EQ(block->getType(), c.type) << int(c.pcb);
        EXPECT_EQ(block->toString(), Base::String(c.text)) << int(c.pcb);
    }
    EXPECT_EQ(static_cast<ReceiveReadyBlock&>(*decode(T1Peer::encode(0x12, 0x83, {}))).getError(), 3u);
    EXPECT_EQ(static_cast<SupervisoryBlock&>(*decode(T1Peer::encode(0x12, 0xC3, {}))).getSupervisoryType(), 3u);
    // With an information field the text ends in its dump, whatever the kind.
    for (const auto& [pcb, head] : {std::pair{0x40, "0A I[more=0,seq=1]:\n"}, std::pair{0x90, "0A R[seq=1,ok]:\n"},
                                    std::pair{0xC1, "0A S[unsupported,request]:\n"}})
        EXPECT_EQ(decode(T1Peer::encode(0x0A, std::uint8_t(pcb), {'A', 'B'}))->toString(),
                  Base::String(head) + Base::HexDump::dump(Base::ByteArray{'A', 'B'}));
}

TEST(BlockReader, InformationFieldsOfBothFormsInAnyChunking) {
    for (std::size_t chunk : {1u, 3u, 4096u})
        for (std::size_t n : {0u, 1u, 254u, 255u})
            for (bool extended : {false, true}) {  // LEN FF with 00 00 02 55 announces 255 bytes
                TestSupport::ScriptedDevice device(text(T1Peer::encode(0x12, 0x20, bytes(n), extended || n > 254)),
                                                   chunk);
                std::unique_ptr<Block> block(Block::readBlock(&device, 0, 0));
                EXPECT_EQ(block->getData(), array(bytes(n))) << chunk << "/" << n;
                EXPECT_FALSE(static_cast<InformationBlock&>(*block).isLast());
                EXPECT_EQ(device.size(), 0) << "the block and nothing more was read";
            }
}

TEST(BlockReader, FailuresOfTheStream) {
    const Bytes good = T1Peer::encode(0x12, 0x00, {1, 2, 3});
    const auto cut = [&](std::size_t n) { return Bytes(good.begin(), good.begin() + static_cast<long>(n)); };
    // With waiting times a stream that stops is a time-out; without, the device's short read.
    for (std::size_t n : {0u, 2u, 5u})
        EXPECT_EQ(codeOf([&] { decode(cut(n), 5, 5); }), Base::TimeoutException::Code) << n;
    for (std::size_t n : {0u, 1u, 2u, 4u, 6u})
        EXPECT_EQ(codeOf([&] { decode(cut(n)); }), unsigned(ErrShortBlockRead)) << n;
    EXPECT_EQ(codeOf([] { decode({0x12, 0x00, 0xFF, 0x99, 0x99, 0x99, 0x99, 1, 2, 3}); }), unsigned(ErrShortBlockRead));
    EXPECT_THROW(decode({0x12, 0x00, 0xFF, 0x00, 0x00, 0x0A, 0x00, 1, 2}, 0, 5), EDCException) << "a length not in BCD";
    for (bool extended : {false, true}) {  // a damaged block travels with its exception
        Bytes bad = T1Peer::encode(0x12, 0x40, bytes(40), extended);
        bad[20] ^= 0x10;
        try {
            decode(bad);
            ADD_FAILURE() << "undetected";
        } catch (const EDCException& e) {
            EXPECT_EQ(e.getErrorCode(), unsigned(ErrEDC));
            EXPECT_EQ(e.getData(), array(bad));
        }
    }
}
