// TCP devices and servers on loopback: addresses, failures, connect time-outs, wake-ups and rejects.
#include <varonet/net/socket/TcpIp4Device.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include <varonet/net/socket/detail/BsdSocketAddressIPv4.h>
#include "support/Loopback.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;
using TestSupport::readFor;

// The socket under a device (protected), for a look at its descriptor and blocking mode.
struct Peek : Net::TcpIp4Device {
    static Net::BsdSocket& socketOf(Net::BsdSocketDevice& device) { return (device.*&Peek::getSocket)(); }
};

std::unique_ptr<Net::TcpIp4Device> acceptDevice(Net::TcpIp4Server& server) {
    return std::unique_ptr<Net::TcpIp4Device>(dynamic_cast<Net::TcpIp4Device*>(server.acceptInternal()));
}

TEST(BsdSocketAddressIPv4Test, TextPortsLookupAndTheAddressesOfASocket) {
    for (const char* ip : {"0.0.0.0", "192.168.1.20", "127.0.0.1"}) EXPECT_EQ(Net::resolveHost(ip, 1).getIP(), ip);
    EXPECT_EQ(Net::resolveHost("", 65535).getPort(), 65535u);  // the any-address
    EXPECT_FALSE(Net::BsdSocketAddressIPv4::isValidIP("10.0.0.256"));
    EXPECT_EQ(codeOf([] { Net::BsdSocketAddressIPv4("not an address", 1); }), unsigned(EINVAL));
    EXPECT_EQ(codeOf([] { Net::BsdSocketAddressIPv4("1.2.3.4", 65536); }), Net::ErrBadPort);
    EXPECT_EQ(codeOf([] { Net::BsdSocketAddressIPv4::isValidIP(Base::String("1.2\0.3", 6)); }), Net::ErrNameConversion);
    // The peer of a socket that is not connected: the error, and the socket stays open.
    Net::BsdSocket socket(Net::BsdSocketType::tcpIp4(), 0);
    Net::BsdSocketAddressIPv4 any("", 0);
    socket.bind(any.getSockAddr(), any.getSockAddrLength());
    EXPECT_EQ(codeOf([&] { Net::BsdSocketAddressIPv4::getPeer(socket); }), unsigned(ENOTCONN));
    EXPECT_EQ(Net::BsdSocketAddressIPv4::getLocal(socket).getIP(), "0.0.0.0");
}

TEST(TcpIp4DeviceTest, FailuresNameThePeerAndLeaveTheDeviceClosed) {
    unsigned int port = TestSupport::unusedPort();
    Net::TcpIp4Device refused("127.0.0.1", port, 2000);
    EXPECT_EQ(TestSupport::messageOf([&] { refused.open(); }),  // a refusal, not a time-out
              "connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused (errno 111)");
    // An empty host is the any-address: no peer, even with a listener on that port here.
    Net::TcpIp4Server server(0);
    const std::pair<const char*, unsigned int> hosts[] = {
        {"no such host.invalid", Net::ErrHostNotFound}, {"", EADDRNOTAVAIL}, {"0.0.0.0", EADDRNOTAVAIL}};
    for (const auto& [host, code] : hosts) {
        Net::TcpIp4Device device(host, server.getLocalPort(), 0);
        EXPECT_EQ(codeOf([&] { device.open(); }), code) << host;
        EXPECT_FALSE(device.isOpen()) << host;
    }
    EXPECT_FALSE(server.waitForConnection(0));
    for (unsigned int bad : {0u, 65536u, 101799u})
        EXPECT_EQ(codeOf([&] { Net::TcpIp4Device("127.0.0.1", bad, 0); }), Net::ErrBadPort) << bad;
    EXPECT_EQ(codeOf([] { Net::TcpIp4Server(70000); }), Net::ErrBadPort);
}

TEST(TcpIp4DeviceTest, ConnectToAFullAcceptQueueTimesOutAndAWakeUpEndsItEarly) {
    TestSupport::RawListener listener(0);
    ASSERT_TRUE(listener.fillAcceptQueue());
    Net::TcpIp4Device device("127.0.0.1", listener.getPort(), 0);
    device.setConnectTimeout(300);  // applies at the next open
    OS::StopWatch watch;
    EXPECT_THROW(device.open(), Base::TimeoutException);
    EXPECT_GE(watch.getElapsed(), 290u);
    // Blocking again, as the descriptor says too.
    EXPECT_EQ(::fcntl(Peek::socketOf(device).getHandle(), F_GETFL) & O_NONBLOCK, 0);
    device.setConnectTimeout(20000);
    device.wakeUp();  // a pending wake-up ends the next timed connect as a time-out
    watch.start();
    EXPECT_THROW(device.open(), Base::TimeoutException);
    EXPECT_LT(watch.getElapsed(), 5000u);
}

TEST(TcpIp4DeviceTest, ReachesAHostByNameSendsSmallWritesAtOnceAndNeverBlocksWhenAskedNotTo) {
    Net::TcpIp4Device closed("127.0.0.1", 1, 0);
    EXPECT_EQ(codeOf([&] { closed.waitForData(10); }), Net::ErrNoSocket);
    auto server = std::make_unique<Net::TcpIp4Server>(0);
    Net::TcpIp4Device client("localhost", server->getLocalPort(), 0);
    client.open();
    EXPECT_EQ(client.getName(), "localhost:" + std::to_string(server->getLocalPort()));  // a name stays a name
    auto accepted = acceptDevice(*server);
    auto noDelay = [](Net::TcpIp4Device& device) {
        int flag = -1;
        socklen_t length = sizeof flag;
        ::getsockopt(Peek::socketOf(device).getHandle(), IPPROTO_TCP, TCP_NODELAY, &flag, &length);
        return flag;
    };
    EXPECT_EQ(noDelay(client), 1);
    EXPECT_EQ(noDelay(*accepted), 1);
    client.setNoDelay(false);
    server->setNoDelay(false);  // for the connections it accepts from now on
    int fd = TestSupport::connectRaw(server->getLocalPort());
    EXPECT_EQ(noDelay(client), 0);
    EXPECT_EQ(noDelay(*acceptDevice(*server)), 0);
    ::close(fd);
    server.reset();  // an accepted connection outlives its server
    client.setBlocking(false);
    char buffer[8];
    EXPECT_THROW(client.readInternal(buffer, 8), IO::WouldBlockException);
    accepted->write("abc", 3);
    ASSERT_TRUE(client.waitForData(5000));
    ASSERT_EQ(client.size(), 3);
    EXPECT_EQ(client.readInternal(buffer, 0), 0);  // a zero-length read never closes
    EXPECT_EQ(client.readInternal(buffer, 8), 3);
}

TEST(TcpIp4ServerTest, RejectsNamesItsAddressAndARestartBindsAtOnce) {
    auto server = std::make_unique<Net::TcpIp4Server>(0);
    const unsigned int port = server->getLocalPort();
    EXPECT_EQ(codeOf([&] { Net::TcpIp4Server second(port); }), unsigned(EADDRINUSE));
    server->setBlocking(false);  // nobody waits: the failure names the address as bound
    EXPECT_EQ(TestSupport::messageOf([&] { delete server->acceptInternal(); }),
              "accept on 0.0.0.0:" + std::to_string(port) + ": Resource temporarily unavailable (errno 11)");
    Net::TcpIp4Device first("127.0.0.1", port, 0);
    first.open();
    const int fd = TestSupport::connectRaw(port);
    Net::TcpIp4Device second(fd, 0);
    EXPECT_EQ(second.getName(), ":0");  // a wrapped descriptor has neither address nor port
    ASSERT_TRUE(server->waitForConnection(5000));
    server->rejectInternal();
    EXPECT_EQ(codeOf([&] { first.waitForData(5000); }), Net::ErrReadEventNoData);  // reset, not data
    EXPECT_FALSE(first.isOpen());                                                  // and the liveness probe closes it
    ASSERT_TRUE(server->waitForConnection(5000));
    auto device = acceptDevice(*server);
    EXPECT_EQ(device->getName(), "127.0.0.1:" + std::to_string(TestSupport::localPort(fd)));
    second.write("raw", 3);
    EXPECT_EQ(readFor(*device, 3, 5000), "raw");
    device->close();  // the server side closes first and keeps TIME_WAIT
    second.close();
    server.reset();
    EXPECT_EQ(codeOf([&] { Net::TcpIp4Server again(port); }), 0u);
    EXPECT_NE(codeOf([] { Net::TcpIp4Server highest(65535); }), Net::ErrBadPort);
}

}  // namespace
