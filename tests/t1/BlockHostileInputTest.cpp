#include <varonet/t1/Block.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include <memory>
#include <random>

#include <varonet/base/FifoDevice.h>
#include <varonet/base/MemoryDevice.h>
#include "peers/T1Node.h"
#include <varonet/t1/EDCException.h>
#include <varonet/t1/T1Errors.h>

// Untrusted bytes must never crash the block reader nor make it allocate
// what a length field merely claims.

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

// A FIFO that samples the heap every time the reader waits for bytes, so
// the peak seen covers the whole read.
class SamplingFifo : public Base::FifoDevice {
public:
    explicit SamplingFifo(unsigned int timeout) : Base::FifoDevice(timeout) {}
    bool waitForData(unsigned int ms) override {
        if (MeasureHeap) mlPeak = std::max(mlPeak, heapInUse());
        return Base::FifoDevice::waitForData(ms);
    }
    long long mlPeak = 0;
};

T1Peer::Bytes randomCase(std::mt19937& random) {
    const auto byte = [&] { return static_cast<std::uint8_t>(random() & 0xFF); };
    const auto randomBytes = [&](std::size_t n) {
        T1Peer::Bytes b(n);
        for (auto& x : b) x = byte();
        return b;
    };
    switch (random() % 4) {
        case 0:  // noise
            return randomBytes(byte() % 48);
        case 1: {  // a valid block with a few bytes changed, then cut or extended
            T1Peer::Bytes bytes = T1Peer::encode(byte(), byte(), randomBytes(byte() % 40), byte() & 1);
            for (int n = byte() % 3; n > 0; --n) bytes[byte() % bytes.size()] ^= byte();
            bytes.resize(byte() % (bytes.size() + 4));
            return bytes;
        }
        default: {  // an extended header with any length, valid BCD or not
            T1Peer::Bytes bytes{byte(), byte(), 0xFF};
            for (int i = 0; i < 4; ++i) bytes.push_back(random() % 4 == 0 ? byte() : 0x99);
            T1Peer::Bytes tail = randomBytes(byte() % 64);
            bytes.insert(bytes.end(), tail.begin(), tail.end());
            return bytes;
        }
    }
}

}  // namespace

TEST(BlockHostileInput, RandomBytesEndInABlockOrADeclaredFailure) {
    std::mt19937 random(20261205);
    int blocks = 0, timeouts = 0, damaged = 0, shortReads = 0;
    for (int round = 0; round < 5000; ++round) {
        T1Peer::Bytes bytes = randomCase(random);
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
                ASSERT_EQ(e.getErrorCode(), unsigned(T1::ErrShortRead)) << "round " << round;
            }
        }
    }
    // Every outcome was met, so the cases really reached each branch.
    EXPECT_GT(blocks, 0);
    EXPECT_GT(timeouts, 0);
    EXPECT_GT(damaged, 0);
    EXPECT_GT(shortReads, 0);
}

TEST(BlockHostileInput, HugeAnnouncedLengthOnAStoppedStreamTimesOutWithoutHoarding) {
    const long long before = MeasureHeap ? heapInUse() : 0;
    {
        SamplingFifo fifo(1000);
        const T1Peer::Bytes header{0x12, 0x00, 0xFF, 0x99, 0x99, 0x99, 0x99};  // 99,999,999 bytes announced
        fifo.write(reinterpret_cast<const char*>(header.data()), static_cast<long>(header.size()));
        const std::string some(3000, 'x');
        fifo.write(some.data(), static_cast<long>(some.size()));  // then the stream stops
        EXPECT_THROW(T1::Block::readBlock(&fifo, 50, 20), Base::TimeoutException);
        EXPECT_EQ(fifo.size(), 0) << "what came was taken";
        if (MeasureHeap) {
            EXPECT_LT(fifo.mlPeak - before, 1 << 20) << "allocated for the claim, not for the bytes";
        }
    }
    if (MeasureHeap) {
        EXPECT_LT(heapInUse() - before, 64 << 10) << "nothing left behind";
    }
}
