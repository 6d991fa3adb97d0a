#include <varonet/net/socket/TcpIp4Device.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/BsdSocketAddressIPv4.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include "support/Loopback.h"
#include "support/Process.h"

namespace {

using TestSupport::codeOf;
using TestSupport::codeWhenWoken;
using TestSupport::readExactly;

// Gives tests a look at the socket underneath (its blocking mode).
class InspectableDevice : public Net::TcpIp4Device {
public:
    using Net::TcpIp4Device::TcpIp4Device;
    using Net::BsdSocketDevice::getSocket;
};

std::unique_ptr<Net::TcpIp4Device> acceptDevice(Net::TcpIp4Server& server) {
    return std::unique_ptr<Net::TcpIp4Device>(dynamic_cast<Net::TcpIp4Device*>(server.acceptInternal()));
}

// A plain POSIX client socket, closed however the test ends.
struct RawClient {
    int fd;
    explicit RawClient(unsigned int port) : fd(TestSupport::connectRaw(port)) {}
    ~RawClient() { ::close(fd); }
};

// The foreign peer: Python's socket module running tests/peers/SocketPeer.py.
std::vector<std::string> peerCommand(std::vector<std::string> args) {
    args.insert(args.begin(), {"python3", "-u", VARONET_TEST_SOURCE_DIR "/peers/SocketPeer.py"});
    return args;
}

// A foreign peer listening on 127.0.0.1.
struct ForeignServer {
    TestSupport::ChildProcess peer;
    unsigned int port;
    explicit ForeignServer(const char* mode)
        : peer(peerCommand({mode}), {.captureOutput = true}),
          port(peer.isStarted() ? peer.waitReady(10000) : 0) {}
};

// A connected pair of our own: a client device and the device the server accepted.
struct Pair {
    Net::TcpIp4Server server{0};
    InspectableDevice client{"127.0.0.1", server.getLocalPort(), 0};
    std::unique_ptr<IO::Device> accepted;
    Pair() {
        client.open();
        accepted.reset(server.acceptInternal());
    }
};

TEST(BsdSocketAddressIPv4Test, TextAndPortRoundTripAndResolveHost) {
    const struct {
        const char* text;
        unsigned int port;
        const char* ip;
    } rows[] = {{"", 80, "0.0.0.0"}, {"192.168.1.20", 4000, "192.168.1.20"}, {"127.0.0.1", 65535, "127.0.0.1"}};
    for (const auto& row : rows) {
        EXPECT_EQ(Net::BsdSocketAddressIPv4(row.text, row.port).getIP(), row.ip) << row.text;
        EXPECT_EQ(Net::BsdSocketAddressIPv4(row.text, row.port).getPort(), row.port) << row.text;
        EXPECT_EQ(Net::resolveHost(row.text, row.port).getIP(), row.ip) << row.text;
    }
    EXPECT_EQ(Net::resolveHost("localhost", 9).getIP(), "127.0.0.1");
    EXPECT_EQ(codeOf([] { Net::resolveHost("no such host.invalid", 80); }), Net::ErrHostNotFound);
}

TEST(BsdSocketAddressIPv4Test, ValidAndBadIPText) {
    for (const char* good : {"", "10.0.0.1", "255.255.255.255", "0.0.0.0"})
        EXPECT_TRUE(Net::BsdSocketAddressIPv4::isValidIP(good)) << good;
    for (const char* bad : {"localhost", "10.0.0.256", "1.2.3", "::1", "10.0.0.1 "})
        EXPECT_FALSE(Net::BsdSocketAddressIPv4::isValidIP(bad)) << bad;
    EXPECT_EQ(codeOf([] { Net::BsdSocketAddressIPv4("not an address", 1); }), unsigned(EINVAL));
    EXPECT_EQ(codeOf([] { Net::BsdSocketAddressIPv4::isValidIP(Base::String("1.2\0.3", 6)); }),
              Net::ErrNameConversion);
}

TEST(BsdSocketAddressIPv4Test, PeerOfUnconnectedSocketFailsWithoutClosingIt) {
    Net::BsdSocket socket(Net::BsdSocketType::tcpIp4(), 0);
    Net::BsdSocketAddressIPv4 any("", 0);
    socket.bind(any.getSockAddr(), any.getSockAddrLength());
    int handle = socket.getHandle();
    EXPECT_EQ(codeOf([&] { Net::BsdSocketAddressIPv4::getPeer(socket); }), unsigned(ENOTCONN));
    EXPECT_EQ(socket.getHandle(), handle);
    EXPECT_EQ(Net::BsdSocketAddressIPv4::getLocal(socket).getIP(), "0.0.0.0");
}

TEST(TcpIp4DeviceTest, TalksToForeignEchoServerAndMovesTenMiB) {
    ForeignServer echo("echo-server");
    ASSERT_NE(echo.port, 0u);
    Net::TcpIp4Device device("localhost", echo.port, 3000);
    device.open();
    ASSERT_TRUE(device.isOpen());
    EXPECT_EQ(device.getName(), "localhost:" + std::to_string(echo.port));  // a name stays a name
    EXPECT_EQ(device.getLocalIP(), "127.0.0.1");
    EXPECT_EQ(device.write("hello, peer", 11), 11);
    EXPECT_EQ(readExactly(device, 11), "hello, peer");
    const std::size_t total = 10u << 20;
    std::vector<char> data = TestSupport::pattern(total);
    std::thread writer([&] {
        for (std::size_t at = 0; at < total; at += 65536) device.write(data.data() + at, 65536);
    });
    std::string back = readExactly(device, total);
    writer.join();
    ASSERT_EQ(back.size(), total);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
}

TEST(TcpIp4DeviceTest, PeerCloseClosesDeviceAndReopenConnectsAgain) {
    ForeignServer greeter("greet-close-server");
    ASSERT_NE(greeter.port, 0u);
    InspectableDevice device("127.0.0.1", greeter.port, 3000);
    for (bool byRead : {true, false}) {
        device.open();
        EXPECT_EQ(readExactly(device, 3), "bye");
        // The end of the stream is a read event with nothing to read.
        EXPECT_EQ(codeOf([&] { device.waitForData(5000); }), Net::ErrReadEventNoData);
        char c;
        if (byRead) {
            EXPECT_EQ(device.readInternal(&c, 1), 0);
        }
        EXPECT_FALSE(device.isOpen());  // without a read the liveness probe notices it
        EXPECT_TRUE(device.isEOF());
        EXPECT_EQ(device.getSocket().getHandle(), -1);
    }
}

TEST(TcpIp4DeviceTest, ConnectFailures) {
    InspectableDevice refused("127.0.0.1", TestSupport::unusedPort(), 2000);
    OS::StopWatch watch;
    EXPECT_EQ(codeOf([&] { refused.open(); }), unsigned(ECONNREFUSED));  // not a time-out
    EXPECT_LT(watch.getElapsed(), 1000u);
    EXPECT_TRUE(refused.getSocket().isBlocking());
    EXPECT_FALSE(refused.isOpen());
    // An empty host is the any-address: no peer, even with a listener on that port here.
    Net::TcpIp4Server server(0);
    const struct {
        const char* host;
        unsigned int code;
    } rows[] = {{"no such host.invalid", Net::ErrHostNotFound}, {"", EADDRNOTAVAIL}, {"0.0.0.0", EADDRNOTAVAIL}};
    for (const auto& row : rows) {
        Net::TcpIp4Device device(row.host, server.getLocalPort(), 0);
        EXPECT_EQ(codeOf([&] { device.open(); }), row.code) << row.host;
        EXPECT_FALSE(device.isOpen()) << row.host;
    }
    EXPECT_FALSE(server.waitForConnection(0));
}

TEST(TcpIp4DeviceTest, ConnectToFullAcceptQueueTimesOut) {
    TestSupport::RawListener listener(0);
    ASSERT_TRUE(listener.fillAcceptQueue());
    // Built without a time-out: the one set afterwards applies at the next open.
    InspectableDevice device("127.0.0.1", listener.getPort(), 0);
    device.setConnectTimeout(300);
    OS::StopWatch watch;
    EXPECT_THROW(device.open(), Base::TimeoutException);
    EXPECT_GE(watch.getElapsed(), 290u);
    EXPECT_LT(watch.getElapsed(), 2000u);
    // Blocking again (the record and the descriptor agree) and not connected.
    EXPECT_TRUE(device.getSocket().isBlocking());
    EXPECT_EQ(::fcntl(device.getSocket().getHandle(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_FALSE(device.isOpen());
    // A wake-up ends a long connect wait early, as a time-out.
    device.setConnectTimeout(20000);
    device.wakeUp();
    watch.start();
    EXPECT_THROW(device.open(), Base::TimeoutException);
    EXPECT_LT(watch.getElapsed(), 5000u);
    EXPECT_TRUE(device.getSocket().isBlocking());
}

TEST(TcpIp4DeviceTest, WaitForDataNonBlockingAndTimedRead) {
    Net::TcpIp4Device closed("127.0.0.1", 1, 0);
    EXPECT_EQ(codeOf([&] { closed.waitForData(10); }), Net::ErrNoSocket);
    Pair pair;
    OS::StopWatch watch;
    EXPECT_FALSE(pair.client.waitForData(100));
    EXPECT_GE(watch.getElapsed(), 90u);
    pair.client.setBlocking(false);
    char buffer[8];
    EXPECT_THROW(pair.client.readInternal(buffer, 8), IO::WouldBlockException);
    EXPECT_TRUE(pair.client.isOpen());
    pair.accepted->write("abc", 3);
    ASSERT_TRUE(pair.client.waitForData(5000));
    watch.start();
    EXPECT_TRUE(pair.client.waitForData(10000));  // queued bytes: no wait at all
    EXPECT_LT(watch.getElapsed(), 1000u);
    EXPECT_EQ(pair.client.size(), 3);
    EXPECT_EQ(pair.client.readInternal(buffer, 0), 0);  // a zero-length read never closes
    EXPECT_TRUE(pair.client.isOpen());
    EXPECT_EQ(pair.client.readInternal(buffer, 8), 3);
    // A read with a time-out returns once the count is in, or short when the time is up.
    pair.client.setBlocking(true);
    pair.client.setTimeout(150);
    pair.accepted->write("0123456789", 10);
    EXPECT_EQ(pair.client.read(buffer, 8), 8);
    watch.start();
    EXPECT_EQ(pair.client.read(buffer, 8), 2);
    EXPECT_GE(watch.getElapsed(), 140u);
}

TEST(TcpIp4DeviceTest, OtherThreadsLeaveBlockedReadAloneUnlessWakingIt) {
    Pair pair;
    std::atomic<long> got{-1};
    char byte = 0;
    std::thread reader([&] { got = pair.client.readInternal(&byte, 1); });
    for (int i = 0; i < 200 && got == -1; ++i) EXPECT_TRUE(pair.client.isOpen());
    EXPECT_TRUE(pair.client.getSocket().isBlocking());
    pair.accepted->write("z", 1);
    reader.join();
    EXPECT_EQ(got, 1);
    EXPECT_EQ(byte, 'z');
    // A wake-up ends a blocked read with EINTR and keeps the connection.
    EXPECT_EQ(codeWhenWoken([&] { pair.client.readInternal(&byte, 1); }, [&] { pair.client.wakeUp(); }),
              unsigned(EINTR));
    pair.accepted->write("k", 1);
    EXPECT_EQ(readExactly(pair.client, 1), "k");
}

TEST(TcpIp4DeviceTest, WrapsConnectedDescriptorAndCopiesShareIt) {
    Net::TcpIp4Server server(0);
    Net::TcpIp4Device device(TestSupport::connectRaw(server.getLocalPort()), 0);
    std::unique_ptr<IO::Device> accepted(server.acceptInternal());
    ASSERT_TRUE(device.isOpen());
    device.write("raw", 3);
    EXPECT_EQ(readExactly(*accepted, 3), "raw");
    std::make_unique<Net::TcpIp4Device>(device).reset();  // a copy going away keeps it open
    EXPECT_TRUE(device.isOpen());
    Net::TcpIp4Device(device).close();  // closing one closes it for all
    EXPECT_FALSE(device.isOpen());
    char c;
    EXPECT_EQ(accepted->readInternal(&c, 1), 0);
}

TEST(TcpIp4ServerTest, NoCallerNoWaitNonBlockingAcceptWouldBlockAndWakeUpEndsWaits) {
    Net::TcpIp4Server server(0);
    OS::StopWatch watch;
    EXPECT_FALSE(server.waitForConnection(0));
    EXPECT_LT(watch.getElapsed(), 100u);
    EXPECT_FALSE(server.waitForConnection(50));
    EXPECT_GE(watch.getElapsed(), 45u);
    EXPECT_EQ(codeWhenWoken([&] { delete server.acceptInternal(); }, [&] { server.wakeUp(); }), unsigned(EINTR));
    server.wakeUp();
    watch.start();
    EXPECT_FALSE(server.waitForConnection(0xFFFFFFFFu));
    EXPECT_LT(watch.getElapsed(), 1000u);
    server.setBlocking(false);
    EXPECT_THROW(delete server.acceptInternal(), IO::WouldBlockException);
    RawClient client(server.getLocalPort());
    ASSERT_TRUE(server.waitForConnection(5000));
    auto device = acceptDevice(server);
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->isOpen());
}

TEST(TcpIp4ServerTest, RejectResetsFirstCallerAndACopyAcceptsTheNext) {
    Net::TcpIp4Server server(0);
    Net::TcpIp4Server copy(server);  // shares the listener
    RawClient first(server.getLocalPort()), second(server.getLocalPort());
    ASSERT_GE(first.fd, 0);
    ASSERT_GE(second.fd, 0);
    ASSERT_TRUE(server.waitForConnection(5000));
    server.rejectInternal();
    char buffer[16] = {};
    errno = 0;
    EXPECT_EQ(::recv(first.fd, buffer, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ASSERT_TRUE(copy.waitForConnection(5000));
    auto device = acceptDevice(copy);
    ASSERT_TRUE(device);
    EXPECT_FALSE(server.waitForConnection(0));
    unsigned int clientPort = TestSupport::localPort(second.fd);
    EXPECT_TRUE(device->isOpen());
    EXPECT_EQ(device->getPeerPort(), clientPort);
    EXPECT_EQ(device->getName(), "127.0.0.1:" + std::to_string(clientPort));
    EXPECT_EQ(device->getLocalPort(), server.getLocalPort());
    EXPECT_EQ(device->write("to client", 9), 9);
    EXPECT_EQ(::recv(second.fd, buffer, 9, MSG_WAITALL), 9);
}

TEST(TcpIp4ServerTest, BusyPortFailsInConstructorButRestartBindsAtOnce) {
    unsigned int port;
    {
        Net::TcpIp4Server server(0);
        port = server.getLocalPort();
        EXPECT_EQ(codeOf([&] { Net::TcpIp4Server second(port); }), unsigned(EADDRINUSE));
        RawClient client(port);
        acceptDevice(server)->close();  // the server side closes first and keeps TIME_WAIT
    }
    EXPECT_NO_THROW(Net::TcpIp4Server again(port));
}

TEST(TcpIp4ServerTest, AcceptedDeviceOutlivesServerAndServesForeignClient) {
    auto server = std::make_unique<Net::TcpIp4Server>(0);
    const unsigned int count = 1u << 20;
    TestSupport::ChildProcess peer(peerCommand({"client", std::to_string(server->getLocalPort()), std::to_string(count)}),
                                   {.captureOutput = true});
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
    EXPECT_EQ(peer.wait(5000), 0);
}

}  // namespace
