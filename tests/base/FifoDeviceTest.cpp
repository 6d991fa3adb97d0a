#include <varonet/base/FifoDevice.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <varonet/base/CombinedDevice.h>
#include <varonet/base/Exception.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/base/StopWatch.h>

#include "support/Files.h"
#include "support/TestCalls.h"

namespace {
std::string readSome(IO::Device& device, long length) {
    std::string buffer(static_cast<std::size_t>(length), '\0');
    buffer.resize(static_cast<std::size_t>(std::max(0L, device.read(buffer.data(), length))));
    return buffer;
}
}  // namespace

TEST(FifoDevice, WriterOrCloseOnAnotherThreadWakesABlockedReader) {
    Base::FifoDevice fifo(10000);
    auto reader = TestSupport::startBlocked([&] { return readSome(fifo, 16); });
    fifo.write(Base::String("wake"));
    EXPECT_EQ(reader.get(), "wake");
    fifo.write(Base::String("x"));
    EXPECT_EQ(readSome(fifo, 4), "x");
    EXPECT_FALSE(fifo.isEOF());
    auto last = TestSupport::startBlocked([&] { return readSome(fifo, 4); });
    OS::StopWatch watch;
    fifo.close();
    EXPECT_EQ(last.get(), "") << "a closed and drained FIFO reads 0 at once";
    EXPECT_LT(watch.getElapsed(), 5000u);
    EXPECT_TRUE(fifo.isEOF());
}

TEST(FifoDevice, ReadTimesOutWithNothing) {
    Base::FifoDevice fifo(40);
    OS::StopWatch watch;
    EXPECT_EQ(readSome(fifo, 1), "");
    EXPECT_GE(watch.getElapsed(), 35u);
    EXPECT_FALSE(fifo.waitForData(0));
}

TEST(FifoDevice, KeepsOrderAcrossPartialReadsAndLargeVolumes) {
    Base::FifoDevice fifo(1000);
    const std::string sent = TestSupport::randomBytes(200000, 3);
    std::thread writer([&] {
        for (std::size_t at = 0; at < sent.size(); at += 999)
            fifo.write(sent.data() + at, std::min<long>(999, long(sent.size() - at)));
    });
    std::string got;
    while (got.size() < sent.size()) {
        std::string piece = readSome(fifo, 1 + static_cast<long>(got.size() % 4000));
        ASSERT_FALSE(piece.empty());
        got += piece;
    }
    writer.join();
    EXPECT_EQ(got, sent);
    EXPECT_EQ(fifo.size(), 0);
}

TEST(CombinedDevice, TwoCrossedFifosMakeADevicePairAndOwnedOnesGoWithIt) {
    Base::FifoDevice aToB(1000), bToA(1000);
    IO::CombinedDevice a(&bToA, &aToB), b(&aToB, &bToA);
    a.write(Base::String("ping"));
    b.write(Base::String("pong"));
    EXPECT_EQ(readSome(b, 8), "ping");
    EXPECT_EQ(readSome(a, 8), "pong");
    EXPECT_EQ(a.getName(), "loopback:/loopback:");
    auto* one = new Base::FifoDevice(0);
    IO::CombinedDevice owning(one, one, true);  // one device both ways, deleted once
    EXPECT_EQ(owning.getName(), "loopback:");
}

TEST(MemoryDevice, SeekReadWriteAndBigEndianIntegers) {
    Base::MemoryDevice memory;
    memory.writeInt32(0x01020304);
    memory.write(Base::String("tail"));
    EXPECT_EQ(memory.getLength(), 8);
    EXPECT_EQ(memory.size(), 0);
    memory.seek(0);
    EXPECT_EQ(memory.readInt32(), 0x01020304u);
    EXPECT_EQ(memory.readInt16(), 0x7461u);  // "ta"
    Base::ByteArray rest;
    EXPECT_EQ(memory.read(rest, 100), 2);
    EXPECT_EQ(rest.toString().str(), "il");
    EXPECT_THROW(memory.readInt16(), Base::Exception);
    memory.seek(2);
    memory.write(Base::String("XY"));
    EXPECT_EQ(memory.getBuffer().toString().str(), std::string("\x01\x02XYtail", 8));
}

// A read into a byte array grows with the bytes that come, not with the count asked for.
TEST(InputDevice, ByteArrayReadGrowsWithTheData) {
    Base::MemoryDevice small("0123456789", 10);
    Base::ByteArray out;
    EXPECT_EQ(small.read(out, 0x7FFFFFFF), 10);
    EXPECT_EQ(out.toString().str(), "0123456789");
    EXPECT_LT(out.vector().capacity(), 1u << 20);
    Base::FifoDevice fifo(50);  // 200 KB ready: taken past the first step while more is ready
    const std::string sent = TestSupport::randomBytes(200000, 5);
    fifo.write(sent.data(), static_cast<long>(sent.size()));
    Base::ByteArray all;
    EXPECT_EQ(fifo.read(all, 1 << 30), 200000);
    EXPECT_EQ(all.toString().str(), sent);
    EXPECT_EQ(fifo.read(all, 1 << 30), 0) << "nothing more came within the time-out";
}
