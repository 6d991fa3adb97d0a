#include "net/socket/DomainDevice.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "base/IOException.h"
#include "base/StopWatch.h"
#include "net/socket/DomainAddress.h"
#include "net/socket/DomainServer.h"
#include "net/socket/SocketErrors.h"
#include "support/SocketTestProcess.h"

namespace {

class DomainDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(mTemp.getPath().empty());
        Net::DomainAddress::setDirectory(mTemp.getPath() + "/pipes");
    }
    void TearDown() override { Net::DomainAddress::setDirectory(""); }

    SocketTest::TempDirectory mTemp;
};

TEST_F(DomainDeviceTest, ClientIsClosedUntilOpened) {
    Net::DomainDevice client("gateway");
    EXPECT_FALSE(client.isOpen());
    EXPECT_TRUE(client.isEOF());
    EXPECT_EQ(client.getName(), "domain:gateway");
    EXPECT_EQ(client.getPath(), "gateway");
    try {
        client.open();  // no server has ever listened there
        FAIL();
    } catch (const IO::SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), unsigned(ENOENT));
    }
    EXPECT_FALSE(client.isOpen());
}

TEST_F(DomainDeviceTest, NamesThatCannotBePaths) {
    for (const Base::String& name :
         {Base::String(""), Base::String("a/b"), Base::String(".."), Base::String(200, 'n'), Base::String("a\0b", 3)}) {
        Net::DomainDevice client(name);
        try {
            client.open();
            FAIL() << name.str();
        } catch (const Base::Exception& e) {
            EXPECT_EQ(e.getErrorCode(), Net::ErrNameConversion) << name.str();
        }
    }
}

TEST_F(DomainDeviceTest, WaitsReadsAndSharesBetweenCopies) {
    Net::DomainServer server("gateway");
    Net::DomainDevice client("gateway");
    client.open();
    client.open();  // opening an open device does nothing
    std::unique_ptr<IO::Device> served(server.acceptInternal());
    OS::StopWatch watch;
    EXPECT_FALSE(served->waitForData(80));
    EXPECT_GE(watch.getElapsed(), 75u);
    EXPECT_EQ(served->size(), 0);
    EXPECT_FALSE(served->isEOF());

    Net::DomainDevice copy(client);
    copy.write("abc", 3);
    ASSERT_TRUE(served->waitForData(5000));
    watch.start();
    EXPECT_TRUE(served->waitForData(10000));  // bytes queued: true at once
    EXPECT_LT(watch.getElapsed(), 1000u);
    EXPECT_EQ(served->size(), 3);
    char buffer[8];
    EXPECT_EQ(served->readInternal(buffer, 8), 3);

    copy.close();  // closes the shared connection
    EXPECT_FALSE(client.isOpen());
    EXPECT_EQ(served->readInternal(buffer, 8), 0);
    EXPECT_FALSE(served->isOpen());
    EXPECT_TRUE(served->isEOF());
}

TEST_F(DomainDeviceTest, ReopensAfterClose) {
    Net::DomainServer server("gateway");
    Net::DomainDevice client("gateway");
    for (int round = 0; round < 2; ++round) {
        client.open();
        std::unique_ptr<IO::Device> served(server.acceptInternal());
        served->write("r", 1);
        ASSERT_TRUE(client.waitForData(5000));
        char c;
        EXPECT_EQ(client.readInternal(&c, 1), 1);
        client.close();
        EXPECT_FALSE(client.isOpen());
    }
}

TEST_F(DomainDeviceTest, WakeUpEndsBlockedRead) {
    Net::DomainServer server("gateway");
    Net::DomainDevice client("gateway");
    client.open();
    std::unique_ptr<IO::Device> served(server.acceptInternal());
    std::atomic<unsigned int> code{0};
    std::thread reader([&] {
        char c;
        try {
            client.readInternal(&c, 1);
        } catch (const IO::SystemException& e) {
            code = e.getErrorCode();
        }
    });
    client.wakeUp();
    reader.join();
    EXPECT_EQ(code, unsigned(EINTR));
    EXPECT_TRUE(client.isOpen());
}

TEST_F(DomainDeviceTest, WriteToVanishedServerSideIsBrokenPipe) {
    Net::DomainServer server("gateway");
    Net::DomainDevice client("gateway");
    client.open();
    delete server.acceptInternal();  // the served end is gone at once
    std::vector<char> block(65536, 'w');
    unsigned int code = 0;
    try {
        for (int i = 0; i < 64; ++i) client.write(block.data(), static_cast<long>(block.size()));
    } catch (const IO::SystemException& e) {
        code = e.getErrorCode();
    }
    EXPECT_TRUE(code == EPIPE || code == ECONNRESET) << code;  // and no SIGPIPE
}

}  // namespace
