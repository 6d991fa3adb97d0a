// Untrusted bytes must never crash the block reader, and neither a length a
// peer announces nor a chunk size a caller asks for turns into memory.
#include <varonet/t1/Block.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include <memory>
#include <random>

#include <varonet/base/FifoDevice.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/Protocol.h>
#include <varonet/t1/T1Errors.h>

#include "peers/T1Node.h"
#include "support/ScriptedDevice.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool MeasureHeap = false;  // the sanitizer's allocator hides the heap figures
#else
constexpr bool MeasureHeap = true;
#endif

long long heapInUse() {
    struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

// Samples the heap whenever the reader waits or reads, so the peak covers the whole call.
template <class Device>
struct Sampling : Device {
    using Device::Device;
    bool waitForData(unsigned int ms) override {
        sample();
        return Device::waitForData(ms);
    }
    long readInternal(char* buffer, long length) override {
        sample();
        return Device::readInternal(buffer, length);
    }
    void sample() { mlPeak = std::max(mlPeak, MeasureHeap ? heapInUse() : 0); }
    long long mlPeak = 0;
};

// Noise; a valid block with a few bytes changed, then cut or extended; an extended header with any length.
T1Peer::Bytes randomCase(std::mt19937& random) {
    const auto byte = [&] { return static_cast<std::uint8_t>(random() & 0xFF); };
    T1Peer::Bytes b;
    const unsigned int kind = random() % 3;
    if (kind == 2) b = {byte(), byte(), 0xFF, 0x99, 0x99, 0x99, 0x99};
    for (int n = byte() % 48; n > 0; --n) b.push_back(byte());
    if (kind == 2) for (int i = 3; i < 7; ++i) b[i] = random() % 4 == 0 ? byte() : 0x99;
    if (kind != 1) return b;
    b = T1Peer::encode(byte(), byte(), b, byte() & 1);
    for (int n = byte() % 3; n > 0; --n) b[byte() % b.size()] ^= byte();
    b.resize(byte() % (b.size() + 4));
    return b;
}

}  // namespace

TEST(BlockHostileInput, RandomBytesEndInABlockOrADeclaredFailure) {
    std::mt19937 random(20261205);
    int blocks = 0, timeouts = 0, damaged = 0, shortReads = 0;
    for (int round = 0; round < 5000; ++round) {
        const T1Peer::Bytes bytes = randomCase(random);
        for (unsigned int wait : {0u, 1u}) {
            Base::MemoryDevice device(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
            try {
                std::unique_ptr<T1::Block> block(T1::Block::readBlock(&device, wait, wait));
                ++blocks;
                ASSERT_LE(block->getData().size() + 4, bytes.size());
            } catch (const T1::EDCException& e) {
                ++damaged;
                ASSERT_LE(e.getData().size(), bytes.size());
            } catch (const Base::TimeoutException&) {
                ++timeouts;
                ASSERT_EQ(wait, 1u) << "no time-out without waiting times";
            } catch (const Base::Exception& e) {
                ++shortReads;
                ASSERT_EQ(e.getErrorCode(), unsigned(T1::ErrShortBlockRead)) << "round " << round;
            }
        }
    }
    EXPECT_TRUE(blocks && timeouts && damaged && shortReads) << "every outcome was met";
}

TEST(BlockHostileInput, HugeAnnouncedLengthOnAStoppedStreamTimesOutWithoutHoarding) {
    const long long before = MeasureHeap ? heapInUse() : 0;
    {
        Sampling<Base::FifoDevice> fifo(1000);
        const std::string header("\x12\x00\xFF\x99\x99\x99\x99", 7);  // 99,999,999 bytes announced
        fifo.write(header.data(), 7);
        fifo.write(std::string(3000, 'x').data(), 3000);  // then the stream stops
        EXPECT_THROW(T1::Block::readBlock(&fifo, 50, 20), Base::TimeoutException);
        EXPECT_EQ(fifo.size(), 0) << "what came was taken";
        EXPECT_LT(MeasureHeap ? fifo.mlPeak - before : 0, 1 << 20) << "allocated for the claim, not for the bytes";
    }
    EXPECT_LT(MeasureHeap ? heapInUse() - before : 0, 64 << 10) << "nothing left behind";
}

TEST(BlockHostileInput, HugeChunkSizeCostsOnlyTheData) {
    for (unsigned int chunk : {99999999u, 0xFFFFFFFFu}) {
        const long long before = MeasureHeap ? heapInUse() : 0;
        Sampling<Base::MemoryDevice> source("0123456789", 10);
        TestSupport::ScriptedDevice wire;
        T1::Protocol protocol(&wire, 100, 100, 0, 0, 0, nullptr);
        protocol.send(T1::NodeAddress(0x12), &source, chunk, false);
        ASSERT_EQ(wire.writes().size(), 1u) << chunk;
        EXPECT_EQ(wire.writes()[0].substr(3, 4), std::string("\x00\x00\x00\x10", 4)) << "ten bytes, extended form";
        EXPECT_LT(MeasureHeap ? source.mlPeak - before : 0, 1 << 20) << chunk;
    }
}
