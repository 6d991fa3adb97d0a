#include "net/socket/DomainServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "base/IOException.h"
#include "base/StopWatch.h"
#include "net/socket/DomainAddress.h"
#include "net/socket/DomainDevice.h"
#include "net/socket/SocketErrors.h"
#include "support/SocketTestProcess.h"

namespace {

std::string readExactly(IO::Device& device, std::size_t count) {
    std::string got;
    char buffer[4096];
    while (got.size() < count && device.waitForData(5000)) {
        long n = device.readInternal(buffer, static_cast<long>(std::min(sizeof buffer, count - got.size())));
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

// Every test gets its own pipe directory (created by the first server, mode 0700).
class DomainServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(mTemp.getPath().empty());
        msDirectory = mTemp.getPath() + "/pipes";
        Net::DomainAddress::setDirectory(msDirectory);
    }
    void TearDown() override { Net::DomainAddress::setDirectory(""); }

    std::unique_ptr<IO::Device> accept(Net::DomainServer& server) {
        return std::unique_ptr<IO::Device>(server.acceptInternal());
    }

    SocketTest::TempDirectory mTemp;
    std::string msDirectory;
};

TEST_F(DomainServerTest, TwoProcessesTalkBothWays) {
    Net::DomainServer server("gateway");
    pid_t child = SocketTest::runChild([] {
        Net::DomainDevice client("gateway");
        client.open();
        if (client.getName() != "domain:gateway") return 2;
        client.write("ping", 4);
        return readExactly(client, 4) == "pong" ? 0 : 3;
    });
    ASSERT_TRUE(server.waitForConnection(5000));
    auto device = accept(server);
    EXPECT_TRUE(device->isOpen());
    EXPECT_EQ(device->getName(), "domain:");
    EXPECT_EQ(readExactly(*device, 4), "ping");
    device->write("pong", 4);
    EXPECT_EQ(SocketTest::waitChild(child, 5000), 0);
}

TEST_F(DomainServerTest, OtherProcessEndingBreaksThePipe) {
    Net::DomainServer server("gateway");
    pid_t child = SocketTest::runChild([] {
        Net::DomainDevice client("gateway");
        client.open();
        client.write("bye", 3);
        return 0;
    });
    auto device = accept(server);
    ASSERT_EQ(SocketTest::waitChild(child, 5000), 0);
    EXPECT_EQ(readExactly(*device, 3), "bye");  // what was sent before the end still arrives
    EXPECT_TRUE(device->isEOF());
    try {
        device->size();
        FAIL() << "size on a broken pipe";
    } catch (const IO::SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), unsigned(EPIPE));
    }
    EXPECT_FALSE(device->isOpen());
}

TEST_F(DomainServerTest, SecondClientConnectsRightAfterAnAccept) {
    Net::DomainServer server("gateway");
    Net::DomainDevice first("gateway");
    first.open();
    auto firstServed = accept(server);
    Net::DomainDevice second("gateway");
    second.open();
    ASSERT_TRUE(server.waitForConnection(1000));
    auto secondServed = accept(server);
    second.write("2", 1);
    first.write("1", 1);
    EXPECT_EQ(readExactly(*secondServed, 1), "2");
    EXPECT_EQ(readExactly(*firstServed, 1), "1");
}

TEST_F(DomainServerTest, AcceptWithoutCaller) {
    Net::DomainServer server("gateway");
    OS::StopWatch watch;
    EXPECT_FALSE(server.waitForConnection(0));
    EXPECT_LT(watch.getElapsed(), 100u);
    server.setBlocking(false);
    EXPECT_THROW(delete server.acceptInternal(), IO::WouldBlockException);
    // A blocking accept waits for a caller until it is woken.
    server.setBlocking(true);
    std::atomic<unsigned int> code{0};
    std::thread acceptor([&] {
        try {
            delete server.acceptInternal();
        } catch (const Base::Exception& e) {
            code = e.getErrorCode();
        }
    });
    server.wakeUp();
    acceptor.join();
    EXPECT_EQ(code, Net::ErrPipeAcceptWait);
}

TEST_F(DomainServerTest, BlockingAcceptWaitsForTheCaller) {
    Net::DomainServer server("gateway");
    std::unique_ptr<IO::Device> served;
    std::thread acceptor([&] { served.reset(server.acceptInternal()); });
    Net::DomainDevice client("gateway");
    client.open();
    acceptor.join();
    ASSERT_TRUE(served);
    client.write("x", 1);
    EXPECT_EQ(readExactly(*served, 1), "x");
}

TEST_F(DomainServerTest, OneServerPerName) {
    auto server = std::make_unique<Net::DomainServer>("gateway");
    try {
        Net::DomainServer second("gateway");
        FAIL() << "two servers on one name";
    } catch (const IO::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), Net::ErrPipeCreate);
        EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos);
    }
    Net::DomainServer copy(*server);
    server.reset();  // the copy keeps the name
    EXPECT_THROW(Net::DomainServer("gateway"), IO::Exception);
}

TEST_F(DomainServerTest, NameIsFreeAgainAfterLastCopyAndStaleFileIsReplaced) {
    { Net::DomainServer server("gateway"); }
    EXPECT_NO_THROW(Net::DomainServer("gateway"));
    // A socket file left behind by a process that died does not block the name.
    std::string path = msDirectory + "/stale";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    Net::DomainServer server("stale");
    Net::DomainDevice client("stale");
    EXPECT_NO_THROW(client.open());
}

TEST_F(DomainServerTest, DirectoryIsPrivate) {
    Net::DomainServer server("gateway");
    struct stat st{};
    ASSERT_EQ(::stat(msDirectory.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string open = mTemp.getPath() + "/open";
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    Net::DomainAddress::setDirectory(open);
    try {
        Net::DomainServer exposed("gateway");
        FAIL() << "a server in a directory others can enter";
    } catch (const IO::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), Net::ErrPipeCreate);
    }
}

}  // namespace
