// Neither a length a peer announces nor a chunk size a caller asks for turns into memory.
#include <varonet/t1/Block.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include <memory>

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

}  // namespace

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
