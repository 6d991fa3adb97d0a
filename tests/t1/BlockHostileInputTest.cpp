// Neither a length a peer announces nor a chunk size a caller asks for turns into memory.
#include <varonet/t1/Block.h>

#include <gtest/gtest.h>

#include <functional>

#include <varonet/base/FifoDevice.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/Protocol.h>

#include "support/CountingAllocator.h"
#include "support/ScriptedDevice.h"

#if VARONET_COUNTING_ALLOCATOR
namespace {

// The most heap the call held at once beyond what was in use before it.
long peakOf(const std::function<void()>& call) {
    using namespace TestSupport::Allocations;
    const long before = bytes;
    peak = before;
    call();
    return peak - before;
}

}  // namespace

TEST(BlockHostileInput, HugeAnnouncedLengthOnAStoppedStreamTimesOutWithoutHoarding) {
    Base::FifoDevice fifo(1000);
    fifo.write("\x12\x00\xFF\x99\x99\x99\x99", 7);    // 99,999,999 bytes announced
    fifo.write(std::string(3000, 'x').data(), 3000);  // then the stream stops
    const long held = peakOf([&] { EXPECT_THROW(T1::Block::readBlock(&fifo, 50, 20), Base::TimeoutException); });
    EXPECT_LT(held, 1 << 20) << "allocated for the claim, not for the bytes";
    EXPECT_EQ(fifo.size(), 0) << "what came was taken";
}

TEST(BlockHostileInput, HugeChunkSizeCostsOnlyTheData) {
    for (unsigned int chunk : {99999999u, 0xFFFFFFFFu}) {
        Base::MemoryDevice source("0123456789", 10);
        TestSupport::ScriptedDevice wire;
        T1::Protocol protocol(&wire, {.blockWaitingTime = 100});
        EXPECT_LT(peakOf([&] { protocol.send(T1::NodeAddress(0x12), &source, {.chunkSize = chunk}); }), 1 << 20)
            << chunk;
        ASSERT_EQ(wire.writes().size(), 1u) << chunk;
        EXPECT_EQ(wire.writes()[0].substr(3, 4), std::string("\x00\x00\x00\x10", 4)) << "ten bytes, extended form";
    }
}
#endif
