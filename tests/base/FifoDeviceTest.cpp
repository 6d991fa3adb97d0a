#include <varonet/base/FifoDevice.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <varonet/base/CombinedDevice.h>
#include <varonet/base/Exception.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/Thread.h>

TEST(FifoDevice, WriterOnAnotherThreadWakesAWaitingReader) {
    Base::FifoDevice fifo(10000);
    std::thread writer([&] {
        Thread::Thread::sleep(30);
        fifo.write(Base::String("wake"));
    });
    OS::StopWatch watch;
    char buffer[16];
    long n = fifo.read(buffer, sizeof buffer);
    writer.join();
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "wake");
    EXPECT_LT(watch.getElapsed(), 5000u);
}

TEST(FifoDevice, ReadTimesOutWithNothing) {
    Base::FifoDevice fifo(40);
    OS::StopWatch watch;
    char c;
    EXPECT_EQ(fifo.read(&c, 1), 0);
    EXPECT_GE(watch.getElapsed(), 35u);
    EXPECT_FALSE(fifo.waitForData(0));
}

TEST(FifoDevice, KeepsOrderAcrossPartialReadsAndLargeVolumes) {
    Base::FifoDevice fifo(1000);
    std::string sent;
    for (int i = 0; i < 200000; ++i) sent.push_back(static_cast<char>(i * 7));
    std::thread writer([&] {
        for (std::size_t at = 0; at < sent.size(); at += 999) fifo.write(sent.data() + at, std::min<long>(999, long(sent.size() - at)));
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

TEST(FifoDevice, CloseWakesReaderAndMarksTheEnd) {
    Base::FifoDevice fifo(10000);
    fifo.write(Base::String("x"));
    std::thread closer([&] {
        Thread::Thread::sleep(20);
        fifo.close();
    });
    char buffer[4];
    EXPECT_EQ(fifo.read(buffer, 4), 1);
    EXPECT_FALSE(fifo.isEOF());
    OS::StopWatch watch;
    EXPECT_EQ(fifo.read(buffer, 4), 0);
    closer.join();
    EXPECT_LT(watch.getElapsed(), 5000u);
    EXPECT_TRUE(fifo.isEOF());
}

TEST(CombinedDevice, TwoCrossedFifosMakeADevicePair) {
    auto* aToB = new Base::FifoDevice(1000);
    auto* bToA = new Base::FifoDevice(1000);
    IO::CombinedDevice a(bToA, aToB, false), b(aToB, bToA, false);
    a.write(Base::String("ping"));
    b.write(Base::String("pong"));
    char buffer[8];
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(b.read(buffer, 8))), "ping");
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(a.read(buffer, 8))), "pong");
    delete aToB;
    delete bToA;
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
