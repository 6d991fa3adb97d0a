#include "t1/Block.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/Crc.h"
#include "base/FifoDevice.h"
#include "base/HexDump.h"
#include "base/MemoryDevice.h"
#include "peers/T1Node.h"
#include "t1/EDCException.h"
#include "t1/Frame.h"
#include "t1/InformationBlock.h"
#include "t1/ReceiveReadyBlock.h"
#include "t1/SupervisoryBlock.h"
#include "t1/T1Errors.h"

using namespace T1;
using Bytes = T1Peer::Bytes;

namespace {

Bytes toBytes(const Base::ByteArray& a) { return Bytes(a.data(), a.data() + a.size()); }
Base::ByteArray pattern(std::size_t n, unsigned seed = 1) {
    Base::ByteArray a(n);
    for (std::size_t i = 0; i < n; ++i) a[i] = static_cast<unsigned char>(i * 31 + seed);
    return a;
}

// Hands out its bytes in chunks of a fixed size: every decoder step meets
// split reads. Waits never succeed once the bytes are gone.
class ChunkedDevice : public IO::Device {
public:
    ChunkedDevice(const Bytes& bytes, long chunk) : mBytes(bytes), miChunk(chunk) {}
    bool isOpen() override { return true; }
    void open() override {}
    void close() override {}
    Base::String getName() override { return "chunked:"; }
    long size() override { return static_cast<long>(mBytes.size() - muPos); }
    long getReadableBytes() override { return std::min(size(), miChunk); }
    bool isEOF() override { return size() == 0; }
    bool waitForData(unsigned int) override { return size() > 0; }
    long readInternal(char* buffer, long length) override {
        long n = std::min(length, getReadableBytes());
        std::copy_n(mBytes.begin() + static_cast<long>(muPos), n, buffer);
        muPos += static_cast<std::size_t>(n);
        return n;
    }
    long write(const char*, long length) override { return length; }

private:
    Bytes mBytes;
    long miChunk;
    std::size_t muPos = 0;
};

// Records every write; can be told to take fewer bytes than offered.
class RecordingOutput : public IO::Device {
public:
    bool isOpen() override { return true; }
    void open() override {}
    void close() override {}
    Base::String getName() override { return "record:"; }
    long size() override { return 0; }
    bool isEOF() override { return true; }
    bool waitForData(unsigned int) override { return false; }
    long readInternal(char*, long) override { return 0; }
    long write(const char* buffer, long length) override {
        mvWrites.emplace_back(buffer, buffer + length);
        return length - miShortBy;
    }
    std::vector<Bytes> mvWrites;
    long miShortBy = 0;
};

std::unique_ptr<Block> decode(const Bytes& wire, unsigned int bwt = 0, unsigned int cwt = 0) {
    Base::MemoryDevice device(reinterpret_cast<const char*>(wire.data()), static_cast<long>(wire.size()));
    return std::unique_ptr<Block>(Block::readBlock(&device, bwt, cwt));
}

}  // namespace

// ---- values ---------------------------------------------------------------

TEST(NodeAddress, DefaultIsInvalidAndEqualityIgnoresValidity) {
    NodeAddress none;
    NodeAddress zero(0);
    EXPECT_FALSE(none.isValid());
    EXPECT_TRUE(zero.isValid());
    EXPECT_EQ(zero.getNode(), 0);
    EXPECT_TRUE(none == zero);
    EXPECT_FALSE(NodeAddress(0x12) == NodeAddress(0x13));
}

TEST(Frame, KeepsAddressAndData) {
    Frame frame(NodeAddress(0x12), pattern(5));
    Frame copy = frame;
    EXPECT_EQ(copy.getAddress().getNode(), 0x12);
    EXPECT_TRUE(copy.getAddress().isValid());
    EXPECT_EQ(copy.getData(), pattern(5));
}

TEST(EDCException, CarriesCodeAndBytes) {
    EDCException e(pattern(3), ".", 7);
    EDCException copy = e;
    EXPECT_EQ(copy.getErrorCode(), 3847u);
    EXPECT_EQ(copy.getLine(), 7);
    EXPECT_EQ(copy.getData(), pattern(3));
    const Base::Exception& base = copy;
    EXPECT_EQ(base.getErrorCode(), unsigned(ErrEDC));
}

// ---- encoding ---------------------------------------------------------------

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
        EXPECT_EQ(toBytes(c.block->encode()), c.wire);
        RecordingOutput out;
        c.block->writeTo(&out);
        ASSERT_EQ(out.mvWrites.size(), 1u) << "one write per block";
        EXPECT_EQ(out.mvWrites[0], c.wire);
    }
}

TEST(BlockEncoding, ExtendedFormLayout) {
    InformationBlock block(NodeAddress(0x12), pattern(10), false, true, 300);
    Bytes wire = toBytes(block.encode());
    ASSERT_EQ(wire.size(), 3u + 4 + 10 + 2);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 7), (Bytes{0x12, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x10}));
    const std::uint16_t crc = T1Peer::crc16(wire.data() + 7, 10);
    EXPECT_EQ(wire[17], crc & 0xFF) << "low byte first";
    EXPECT_EQ(wire[18], crc >> 8);

    InformationBlock large(NodeAddress(1), pattern(1000), false, true, 1000);
    Bytes big = toBytes(large.encode());
    EXPECT_EQ(Bytes(big.begin() + 3, big.begin() + 7), (Bytes{0x00, 0x00, 0x10, 0x00})) << "1000 in packed BCD";
}

TEST(BlockEncoding, ShortWriteThrows3845) {
    RecordingOutput out;
    out.miShortBy = 1;
    InformationBlock block(NodeAddress(1), pattern(20), false, true, 254);
    try {
        block.writeTo(&out);
        FAIL() << "no exception";
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), unsigned(ErrShortWrite));
    }
}

TEST(Crc, PublishedCheckValueAndExtendedTrailer) {
    const char* check = "123456789";
    EXPECT_EQ(Math::Crc::iso3309(check, 9), 0x906E);
    Math::Crc byByte(0);
    for (int i = 0; i < 9; ++i) byByte.update(static_cast<unsigned char>(check[i]));
    EXPECT_EQ(byByte.getCRC(), 0x906Eu);
    EXPECT_EQ(T1Peer::crc16(reinterpret_cast<const std::uint8_t*>(check), 9), 0x906E) << "the node's own CRC agrees";
    // The trailer of an extended block over "123456789" is the check value, low byte first.
    InformationBlock block(NodeAddress(0), Base::ByteArray(check, 9), false, true, 255);
    Bytes wire = toBytes(block.encode());
    EXPECT_EQ(wire[wire.size() - 2], 0x6E);
    EXPECT_EQ(wire[wire.size() - 1], 0x90);
    // Lengths 0..600 agree with the bit-by-bit implementation.
    Base::ByteArray data = pattern(600, 7);
    for (std::size_t n = 0; n <= data.size(); n += 37)
        EXPECT_EQ(Math::Crc::iso3309(data.data(), n), T1Peer::crc16(data.data(), n)) << n;
}

// ---- decoding ---------------------------------------------------------------

TEST(BlockReader, ClassifiesAndRendersByPcb) {
    struct Case {
        std::uint8_t pcb;
        unsigned int type;
        const char* text;
    };
    const Case cases[] = {
        {0x00, Block::Information, "12 I[more=0,seq=0]:\n"},
        {0x20, Block::Information, "12 I[more=1,seq=0]:\n"},
        {0x60, Block::Information, "12 I[more=1,seq=1]:\n"},
        {0x7F, Block::Information, "12 I[more=1,seq=1]:\n"},
        {0x80, Block::ReceiveReady, "12 R[seq=0,ok]\n"},
        {0xA0, Block::ReceiveReady, "12 R[seq=0,ok]\n"},  // bit 5 ignored
        {0x91, Block::ReceiveReady, "12 R[seq=1,parity/edc error]\n"},
        {0x82, Block::ReceiveReady, "12 R[seq=0,error]\n"},
        {0x83, Block::ReceiveReady, "12 R[seq=0,error]\n"},
        {0x8F, Block::ReceiveReady, "12 R[seq=0,error]\n"},
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
        EXPECT_TRUE(block->getAddress().isValid());
    }
    auto r = decode(T1Peer::encode(0x12, 0x83, {}));
    EXPECT_EQ(static_cast<ReceiveReadyBlock*>(r.get())->getError(), 3u);
    EXPECT_FALSE(static_cast<ReceiveReadyBlock*>(r.get())->getSequence());
    auto s = decode(T1Peer::encode(0x12, 0xC3, {}));
    EXPECT_EQ(static_cast<SupervisoryBlock*>(s.get())->getSupervisoryType(), 3u);
    EXPECT_EQ(static_cast<SupervisoryBlock*>(s.get())->getResponse(), 0u);
}

TEST(BlockReader, RendersDataWithDump) {
    auto i = decode(T1Peer::encode(0x0A, 0x40, {'A', 'B'}));
    EXPECT_EQ(i->toString(), Base::String("0A I[more=0,seq=1]:\n") + Base::HexDump::dump(Base::ByteArray{'A', 'B'}));
    auto r = decode(T1Peer::encode(0xFF, 0x90, {0x01}));
    EXPECT_EQ(r->toString(), Base::String("FF R[seq=1,ok]:\n") + Base::HexDump::dump(Base::ByteArray{0x01}));
    auto s = decode(T1Peer::encode(0x00, 0xC1, {0x02}));
    EXPECT_EQ(s->toString(), Base::String("00 S[unsupported,request]:\n") + Base::HexDump::dump(Base::ByteArray{0x02}));
}

TEST(BlockReader, InformationFieldsOfBothForms) {
    // LEN FF with 00 00 02 55 announces 255 bytes.
    Bytes wire = T1Peer::encode(0x12, 0x20, toBytes(pattern(255)), true);
    ASSERT_EQ(Bytes(wire.begin() + 2, wire.begin() + 7), (Bytes{0xFF, 0x00, 0x00, 0x02, 0x55}));
    for (long chunk : {1L, 2L, 3L, 7L, 64L, 4096L}) {
        SCOPED_TRACE(chunk);
        ChunkedDevice device(wire, chunk);
        std::unique_ptr<Block> block(Block::readBlock(&device, 0, 0));
        auto* info = dynamic_cast<InformationBlock*>(block.get());
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->getData(), pattern(255));
        EXPECT_EQ(info->getSize(), 255u);
        EXPECT_FALSE(info->isLast());
        EXPECT_EQ(device.size(), 0);
    }
    // Even a short field may come in the extended form, and an empty one.
    for (std::size_t n : {0u, 1u, 254u}) {
        auto a = decode(T1Peer::encode(1, 0x00, toBytes(pattern(n)), true));
        EXPECT_EQ(a->getData(), pattern(n));
        auto b = decode(T1Peer::encode(1, 0x00, toBytes(pattern(n)), false));
        EXPECT_EQ(b->getData(), pattern(n));
    }
}

TEST(BlockReader, RoundTripsWhatTheWriterWrites) {
    std::vector<std::unique_ptr<Block>> blocks;
    blocks.push_back(std::make_unique<InformationBlock>(NodeAddress(3), pattern(100), true, false, 254));
    blocks.push_back(std::make_unique<InformationBlock>(NodeAddress(4), pattern(5000), false, true, 5000));
    blocks.push_back(std::make_unique<ReceiveReadyBlock>(NodeAddress(5), true, ReceiveReadyBlock::OtherError));
    blocks.push_back(std::make_unique<SupervisoryBlock>(NodeAddress(6), 0, 1));
    Base::MemoryDevice device;
    for (auto& b : blocks) b->writeTo(&device);
    device.seek(0);
    for (auto& b : blocks) {
        std::unique_ptr<Block> back(Block::readBlock(&device, 10, 10));
        EXPECT_EQ(back->getType(), b->getType());
        EXPECT_EQ(back->encode(), b->encode());
    }
}

TEST(BlockReader, DetectsEveryFlippedBitInFieldAndCheck) {
    for (bool extended : {false, true}) {
        Bytes wire = T1Peer::encode(0x12, 0x40, toBytes(pattern(40)), extended);
        const std::size_t first = extended ? 7 : 3;
        for (std::size_t at = first; at < wire.size(); ++at) {
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
    // Nothing within the block waiting time.
    EXPECT_THROW(decode({}, 5, 5), Base::TimeoutException);
    // The stream stops inside the block: with a character waiting time a time-out...
    EXPECT_THROW(decode(Bytes(good.begin(), good.end() - 1), 5, 5), Base::TimeoutException);
    EXPECT_THROW(decode(Bytes(good.begin(), good.begin() + 2), 5, 5), Base::TimeoutException);
    // ...without one, the device's short read (3844).
    for (std::size_t cut : {0u, 1u, 2u, 4u, 6u}) {
        try {
            decode(Bytes(good.begin(), good.begin() + static_cast<long>(cut)), 0, 0);
            ADD_FAILURE() << "cut " << cut;
        } catch (const Base::TimeoutException&) {
            ADD_FAILURE() << "time-out for cut " << cut;
        } catch (const Base::Exception& e) {
            EXPECT_EQ(e.getErrorCode(), unsigned(ErrShortRead)) << cut;
        }
    }
    // A length that is not decimal is a damaged block.
    EXPECT_THROW(decode({0x12, 0x00, 0xFF, 0x00, 0x00, 0x0A, 0x00, 1, 2}, 0, 5), EDCException);
}

TEST(BlockReader, WaitsForTheFirstByteAndEachFollowingOne) {
    Base::FifoDevice fifo(2000);
    Bytes wire = T1Peer::encode(0x12, 0x20, toBytes(pattern(600)), true);
    std::thread writer([&] {
        for (std::size_t at = 0; at < wire.size(); at += 97)
            fifo.write(reinterpret_cast<const char*>(wire.data() + at), static_cast<long>(std::min<std::size_t>(97, wire.size() - at)));
    });
    std::unique_ptr<Block> block(Block::readBlock(&fifo, 2000, 2000));
    writer.join();
    EXPECT_EQ(block->getData(), pattern(600));

    // With both waiting times 0 the reader does not wait but reads until the
    // bytes are in: the FIFO's own read holds it until the writer delivers.
    std::thread late([&] {
        fifo.write(reinterpret_cast<const char*>(wire.data()), 5);
        fifo.write(reinterpret_cast<const char*>(wire.data() + 5), static_cast<long>(wire.size() - 5));
    });
    std::unique_ptr<Block> again(Block::readBlock(&fifo, 0, 0));
    late.join();
    EXPECT_EQ(again->getData(), pattern(600));
}
