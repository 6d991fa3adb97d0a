#include <varonet/net/socket/DomainDevice.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/SocketErrors.h>
#include "support/Files.h"
#include "support/Process.h"

namespace {

using TestSupport::codeOf;
using TestSupport::codeWhenWoken;
using TestSupport::readExactly;

// Every test gets its own pipe directory (created by the first server, mode 0700).
class DomainDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(mTemp.path().empty());
        Net::DomainAddress::setDirectory(msDirectory);
    }
    void TearDown() override { Net::DomainAddress::setDirectory(""); }
    // Opens mClient to a server on "gateway" and gives the served end.
    std::unique_ptr<IO::Device> connect() {
        if (!mServer) mServer = std::make_unique<Net::DomainServer>("gateway");
        mClient.open();
        return std::unique_ptr<IO::Device>(mServer->acceptInternal());
    }

    TestSupport::TempDir mTemp;
    std::string msDirectory = mTemp.path() + "/pipes";
    std::unique_ptr<Net::DomainServer> mServer;
    Net::DomainDevice mClient{"gateway"};
};
using DomainServerTest = DomainDeviceTest;

TEST(DomainAddressTest, NameMapsIntoThePerUserDirectoryUpToTheLongestThatFits) {
    Net::DomainAddress::setDirectory("");
    EXPECT_EQ(Net::DomainAddress::getPath("gateway"), "/tmp/varonet-" + std::to_string(::getuid()) + "/gateway");
    Net::DomainAddress::setDirectory("/tmp/d");
    sockaddr_un address;
    EXPECT_EQ(Net::DomainAddress::toSockAddr("gw", address), offsetof(sockaddr_un, sun_path) + 10);
    EXPECT_STREQ(address.sun_path, "/tmp/d/gw");
    std::size_t room = sizeof(sockaddr_un::sun_path) - 1 - 7;  // "/tmp/d/" and the NUL
    EXPECT_EQ(codeOf([&] { Net::DomainAddress::getPath(Base::String(room, 'x')); }), 0u);
    EXPECT_EQ(codeOf([&] { Net::DomainAddress::getPath(Base::String(room + 1, 'x')); }), Net::ErrNameConversion);
    Net::DomainAddress::setDirectory("");
}

TEST_F(DomainDeviceTest, OpenFailsWithoutServerOrUsableName) {
    EXPECT_FALSE(mClient.isOpen());
    EXPECT_TRUE(mClient.isEOF());
    const std::pair<Base::String, unsigned int> rows[] = {
        {"gateway", ENOENT},  // no server has ever listened there
        {"", Net::ErrNameConversion},
        {"a/b", Net::ErrNameConversion},
        {"..", Net::ErrNameConversion},
        {Base::String("a\0b", 3), Net::ErrNameConversion},
    };
    for (const auto& row : rows) {
        Net::DomainDevice client(row.first);
        EXPECT_EQ(codeOf([&] { client.open(); }), row.second) << row.first.str();
        EXPECT_FALSE(client.isOpen());
    }
}

TEST_F(DomainDeviceTest, WaitsReadsSharesBetweenCopiesAndReopens) {
    auto served = connect();
    mClient.open();  // opening an open device does nothing
    OS::StopWatch watch;
    EXPECT_FALSE(served->waitForData(80));
    EXPECT_GE(watch.getElapsed(), 75u);
    Net::DomainDevice copy(mClient);
    copy.write("abc", 3);
    ASSERT_TRUE(served->waitForData(5000));
    watch.start();
    EXPECT_TRUE(served->waitForData(10000));  // bytes queued: true at once
    EXPECT_LT(watch.getElapsed(), 1000u);
    EXPECT_EQ(served->size(), 3);
    char buffer[8];
    EXPECT_EQ(served->readInternal(buffer, 8), 3);
    copy.close();  // closes the shared connection
    EXPECT_FALSE(mClient.isOpen());
    EXPECT_EQ(served->readInternal(buffer, 8), 0);
    EXPECT_FALSE(served->isOpen());
    EXPECT_TRUE(served->isEOF());
    served = connect();
    served->write("r", 1);
    EXPECT_EQ(readExactly(mClient, 1), "r");
}

TEST_F(DomainDeviceTest, WakeUpEndsBlockedReadAndWriteToVanishedEndIsBrokenPipe) {
    auto served = connect();
    char c;
    EXPECT_EQ(codeWhenWoken([&] { mClient.readInternal(&c, 1); }, [&] { mClient.wakeUp(); }), unsigned(EINTR));
    EXPECT_TRUE(mClient.isOpen());
    served.reset();
    std::vector<char> block(65536, 'w');
    unsigned int code = codeOf([&] {
        for (int i = 0; i < 64; ++i) mClient.write(block.data(), static_cast<long>(block.size()));
    });
    EXPECT_TRUE(code == EPIPE || code == ECONNRESET) << code;  // and no SIGPIPE
}

TEST_F(DomainServerTest, TwoProcessesTalkBothWaysUntilTheOtherEnds) {
    Net::DomainServer server("gateway");
    TestSupport::ChildProcess child([] {
        Net::DomainDevice client("gateway");
        client.open();
        if (client.getName() != "domain:gateway") return 2;
        client.write("ping", 4);
        if (readExactly(client, 4) != "pong") return 3;
        client.write("bye", 3);
        return 0;
    });
    ASSERT_TRUE(server.waitForConnection(5000));
    std::unique_ptr<IO::Device> device(server.acceptInternal());
    EXPECT_TRUE(device->isOpen());
    EXPECT_EQ(device->getName(), "domain:");
    EXPECT_EQ(readExactly(*device, 4), "ping");
    device->write("pong", 4);
    ASSERT_EQ(child.wait(5000), 0);
    EXPECT_EQ(readExactly(*device, 3), "bye");  // what was sent before the end still arrives
    EXPECT_TRUE(device->isEOF());
    EXPECT_EQ(codeOf([&] { device->size(); }), unsigned(EPIPE));
    EXPECT_FALSE(device->isOpen());
}

TEST_F(DomainServerTest, AcceptWaitsForACallerAndASecondConnectsRightAfter) {
    Net::DomainServer server("gateway");
    OS::StopWatch watch;
    EXPECT_FALSE(server.waitForConnection(0));
    EXPECT_LT(watch.getElapsed(), 100u);
    EXPECT_EQ(codeWhenWoken([&] { delete server.acceptInternal(); }, [&] { server.wakeUp(); }),
              Net::ErrPipeAcceptWait);
    server.setBlocking(false);
    EXPECT_THROW(delete server.acceptInternal(), IO::WouldBlockException);
    server.setBlocking(true);
    std::unique_ptr<IO::Device> firstServed;
    std::thread acceptor([&] { firstServed.reset(server.acceptInternal()); });
    Net::DomainDevice first("gateway"), second("gateway");
    first.open();
    acceptor.join();
    ASSERT_TRUE(firstServed);
    second.open();
    ASSERT_TRUE(server.waitForConnection(1000));
    std::unique_ptr<IO::Device> secondServed(server.acceptInternal());
    second.write("2", 1);
    first.write("1", 1);
    EXPECT_EQ(readExactly(*secondServed, 1), "2");
    EXPECT_EQ(readExactly(*firstServed, 1), "1");
}

TEST_F(DomainServerTest, OneServerPerNameInAPrivateDirectory) {
    auto server = std::make_unique<Net::DomainServer>("gateway");
    EXPECT_EQ(codeOf([] { Net::DomainServer second("gateway"); }), Net::ErrPipeCreate);
    auto copy = std::make_unique<Net::DomainServer>(*server);
    server.reset();  // the copy keeps the name
    EXPECT_EQ(codeOf([] { Net::DomainServer again("gateway"); }), Net::ErrPipeCreate);
    copy.reset();
    EXPECT_EQ(codeOf([] { Net::DomainServer again("gateway"); }), 0u);
    // A socket file left behind by a process that died does not block the name.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (msDirectory + "/stale").c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    Net::DomainServer stale("stale");
    Net::DomainDevice client("stale");
    EXPECT_NO_THROW(client.open());
    // The directory is private, and a server refuses one that others could enter.
    struct stat st{};
    ASSERT_EQ(::stat(msDirectory.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string open = mTemp.path() + "/open";
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    Net::DomainAddress::setDirectory(open);
    EXPECT_EQ(codeOf([] { Net::DomainServer exposed("gateway"); }), Net::ErrPipeCreate);
}

}  // namespace
