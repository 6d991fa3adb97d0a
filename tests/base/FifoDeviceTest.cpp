// The in-memory devices: FIFO wake-ups and order, crossed FIFOs as a pair, and the memory device.
#include <varonet/base/FifoDevice.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <varonet/base/CombinedDevice.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/base/StopWatch.h>

#include "support/Files.h"
#include "support/TestCalls.h"

using TestSupport::readFor;

TEST(FifoDevice, ABlockedReaderWakesForAWriterOrAClose) {
    Base::FifoDevice fifo(10000);
    auto reader = TestSupport::startBlocked([&] { return readFor(fifo, 4, 5000); });
    fifo.write(Base::String("wake"));
    EXPECT_EQ(reader.get(), "wake");
    auto last = TestSupport::startBlocked([&] {
        char c;
        return fifo.read(&c, 1);
    });
    OS::StopWatch watch;
    fifo.close();
    EXPECT_EQ(last.get(), 0) << "a closed and drained FIFO reads 0 at once";
    EXPECT_LT(watch.getElapsed(), 5000u);
    EXPECT_TRUE(fifo.isEOF());
    Base::FifoDevice quiet(40);
    OS::StopWatch waited;
    char c;
    EXPECT_EQ(quiet.read(&c, 1), 0) << "nothing within the time-out";
    EXPECT_GE(waited.getElapsed(), 35u);
}

TEST(FifoDevice, KeepsOrderAcrossPartialReadsAndLargeVolumes) {
    Base::FifoDevice fifo(1000);
    const std::string sent = TestSupport::randomBytes(200000, 3);
    std::thread writer([&] {
        for (std::size_t at = 0; at < sent.size(); at += 999)
            fifo.write(sent.data() + at, std::min<long>(999, long(sent.size() - at)));
    });
    std::string got;
    char buffer[4096];
    while (got.size() < sent.size()) {
        long n = fifo.read(buffer, 1 + static_cast<long>(got.size() % 4000));
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<std::size_t>(n));
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
    EXPECT_EQ(readFor(b, 4, 5000), "ping");
    EXPECT_EQ(readFor(a, 4, 5000), "pong");
    EXPECT_EQ(a.getName(), "loopback:/loopback:");
    auto* one = new Base::FifoDevice(0);
    EXPECT_EQ(IO::CombinedDevice(one, one, true).getName(), "loopback:") << "one device both ways, deleted once";
}

TEST(MemoryDevice, SeekReadWriteIntegersAndReadsThatGrowWithTheData) {
    Base::MemoryDevice memory;
    memory.writeInt32(0x01020304);
    memory.write(Base::String("tail"));
    EXPECT_EQ(memory.getLength(), 8);
    EXPECT_EQ(memory.size(), 0);
    memory.seek(0);
    EXPECT_EQ(memory.readInt32(), 0x01020304u);
    EXPECT_EQ(memory.readInt16(), 0x7461u);  // "ta"
    Base::ByteArray rest;
    EXPECT_EQ(memory.read(rest, 0x7FFFFFFF), 2);
    EXPECT_EQ(rest.toString().str(), "il");
    EXPECT_LT(rest.vector().capacity(), 1u << 20) << "memory follows the data, not the count asked for";
    EXPECT_THROW(memory.readInt16(), Base::Exception);
    memory.seek(2);
    memory.write(Base::String("XY"));
    EXPECT_EQ(memory.getBuffer().toString().str(), std::string("\x01\x02XYtail", 8));
    Base::FifoDevice fifo(50);  // 200 KB ready: taken past the first step while more is ready
    const std::string sent = TestSupport::randomBytes(200000, 5);
    fifo.write(sent.data(), static_cast<long>(sent.size()));
    Base::ByteArray all;
    EXPECT_EQ(fifo.read(all, 1 << 30), 200000);
    EXPECT_EQ(all.toString().str(), sent);
    EXPECT_EQ(fifo.read(all, 1 << 30), 0) << "nothing more came within the time-out";
}
