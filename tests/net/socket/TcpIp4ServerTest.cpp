#include "net/socket/TcpIp4Server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "base/IOException.h"
#include "base/StopWatch.h"
#include "net/socket/SocketErrors.h"
#include "net/socket/TcpIp4Device.h"
#include "support/SocketTestLoopback.h"
#include "support/SocketTestPeer.h"

namespace {

std::unique_ptr<Net::TcpIp4Device> acceptDevice(Net::TcpIp4Server& server) {
    IO::Device* device = server.acceptInternal();
    auto* tcp = dynamic_cast<Net::TcpIp4Device*>(device);
    if (!tcp) delete device;
    return std::unique_ptr<Net::TcpIp4Device>(tcp);
}

TEST(TcpIp4ServerTest, WaitForConnectionWithoutCallerReturnsFalseAtOnce) {
    Net::TcpIp4Server server(0);
    OS::StopWatch watch;
    EXPECT_FALSE(server.waitForConnection(0));
    EXPECT_LT(watch.getElapsed(), 100u);
    EXPECT_FALSE(server.waitForConnection(50));
    EXPECT_GE(watch.getElapsed(), 45u);
}

TEST(TcpIp4ServerTest, AcceptGivesOpenDeviceNamedByCaller) {
    Net::TcpIp4Server server(0);
    int client = SocketTest::connectRaw(server.getLocalPort());
    ASSERT_GE(client, 0);
    ASSERT_TRUE(server.waitForConnection(5000));
    auto device = acceptDevice(server);
    ASSERT_TRUE(device);
    unsigned int clientPort = SocketTest::localPort(client);
    EXPECT_TRUE(device->isOpen());
    EXPECT_EQ(device->getPeerIP(), "127.0.0.1");
    EXPECT_EQ(device->getPeerPort(), clientPort);
    EXPECT_EQ(device->getName(), "127.0.0.1:" + std::to_string(clientPort));
    EXPECT_EQ(device->getLocalPort(), server.getLocalPort());
    EXPECT_EQ(device->write("to client", 9), 9);
    char buffer[16] = {};
    EXPECT_EQ(::recv(client, buffer, 9, MSG_WAITALL), 9);
    ::close(client);
}

TEST(TcpIp4ServerTest, RejectResetsFirstCallerAndServesTheNext) {
    Net::TcpIp4Server server(0);
    int first = SocketTest::connectRaw(server.getLocalPort());
    int second = SocketTest::connectRaw(server.getLocalPort());
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(server.waitForConnection(5000));
    server.rejectInternal();
    char c;
    errno = 0;
    EXPECT_EQ(::recv(first, &c, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ASSERT_TRUE(server.waitForConnection(5000));
    auto device = acceptDevice(server);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->getPeerPort(), SocketTest::localPort(second));
    ASSERT_EQ(::send(second, "ok", 2, MSG_NOSIGNAL), 2);
    ASSERT_TRUE(device->waitForData(5000));
    char buffer[2];
    EXPECT_EQ(device->readInternal(buffer, 2), 2);
    ::close(first);
    ::close(second);
}

TEST(TcpIp4ServerTest, SecondServerOnBusyPortFailsInConstructor) {
    Net::TcpIp4Server server(0);
    try {
        Net::TcpIp4Server second(server.getLocalPort());
        FAIL() << "a second listener on one port";
    } catch (const IO::SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), unsigned(EADDRINUSE));
    }
}

TEST(TcpIp4ServerTest, RestartedServerBindsAgainAtOnce) {
    unsigned int port;
    {
        Net::TcpIp4Server server(0);
        port = server.getLocalPort();
        int client = SocketTest::connectRaw(port);
        ASSERT_GE(client, 0);
        auto device = acceptDevice(server);
        device->close();  // the server side closes first and keeps TIME_WAIT
        ::close(client);
    }
    EXPECT_NO_THROW(Net::TcpIp4Server again(port));
}

TEST(TcpIp4ServerTest, NonBlockingAcceptWithoutCallerWouldBlock) {
    Net::TcpIp4Server server(0);
    server.setBlocking(false);
    EXPECT_FALSE(server.isBlocking());
    EXPECT_THROW(delete server.acceptInternal(), IO::WouldBlockException);
    int client = SocketTest::connectRaw(server.getLocalPort());
    ASSERT_TRUE(server.waitForConnection(5000));
    auto device = acceptDevice(server);
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->isOpen());
    ::close(client);
}

TEST(TcpIp4ServerTest, WakeUpEndsBlockingAcceptAndWait) {
    Net::TcpIp4Server server(0);
    std::atomic<unsigned int> code{0};
    std::thread acceptor([&] {
        try {
            delete server.acceptInternal();
        } catch (const IO::SystemException& e) {
            code = e.getErrorCode();
        }
    });
    server.wakeUp();
    acceptor.join();
    EXPECT_EQ(code, unsigned(EINTR));
    server.wakeUp();
    OS::StopWatch watch;
    EXPECT_FALSE(server.waitForConnection(0xFFFFFFFFu));
    EXPECT_LT(watch.getElapsed(), 1000u);
}

TEST(TcpIp4ServerTest, AcceptedDeviceOutlivesServerAndServesForeignClient) {
    auto server = std::make_unique<Net::TcpIp4Server>(0);
    const unsigned int count = 1u << 20;
    SocketTest::PeerProcess peer(SocketTest::peerScript(VARONET_TEST_SOURCE_DIR),
                                 {"client", std::to_string(server->getLocalPort()), std::to_string(count)});
    ASSERT_TRUE(peer.isStarted());
    ASSERT_TRUE(server->waitForConnection(10000));
    auto device = acceptDevice(*server);
    server.reset();
    // Echo until the client has sent everything and shut its side down.
    char buffer[65536];
    unsigned int echoed = 0;
    while (echoed < count && device->waitForData(5000)) {
        long n = device->readInternal(buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        ASSERT_EQ(device->write(buffer, n), n);
        echoed += static_cast<unsigned int>(n);
    }
    EXPECT_EQ(echoed, count);
    device->close();
    EXPECT_EQ(peer.readLine(10000), "OK");
    EXPECT_EQ(peer.waitExit(5000), 0);
}

TEST(TcpIp4ServerTest, CopiesShareTheListener) {
    // A copy shares the listener: waiting on either works, and so does the copy's accept.
    Net::TcpIp4Server server(0);
    Net::TcpIp4Server copy(server);
    int client = SocketTest::connectRaw(server.getLocalPort());
    ASSERT_TRUE(copy.waitForConnection(5000));
    auto device = acceptDevice(copy);
    EXPECT_TRUE(device->isOpen());
    EXPECT_FALSE(server.waitForConnection(0));
    ::close(client);
}

}  // namespace
