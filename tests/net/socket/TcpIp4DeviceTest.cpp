#include "net/socket/TcpIp4Device.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "base/IOException.h"
#include "base/StopWatch.h"
#include "net/socket/SocketErrors.h"
#include "net/socket/TcpIp4Server.h"
#include "support/SocketTestLoopback.h"
#include "support/SocketTestPeer.h"

namespace {

using SocketTest::PeerProcess;

// Gives tests a look at the socket underneath (its blocking mode).
class InspectableDevice : public Net::TcpIp4Device {
public:
    using Net::TcpIp4Device::TcpIp4Device;
    using Net::BsdSocketDevice::getSocket;
};

template <typename E>
unsigned int codeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.getErrorCode();
    }
    return 0;
}

// Reads exactly count bytes, each wait bounded.
std::string readExactly(IO::Device& device, std::size_t count, unsigned int waitMs = 5000) {
    std::string got;
    char buffer[65536];
    while (got.size() < count) {
        if (!device.waitForData(waitMs)) break;
        long n = device.readInternal(buffer, static_cast<long>(std::min(sizeof buffer, count - got.size())));
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::unique_ptr<PeerProcess> startPeer(const char* mode, unsigned int& port) {
    auto peer = std::make_unique<PeerProcess>(SocketTest::peerScript(VARONET_TEST_SOURCE_DIR),
                                              std::vector<std::string>{mode});
    port = peer->isStarted() ? peer->waitReady(10000) : 0;
    return peer;
}

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

TEST(TcpIp4DeviceTest, FreshDeviceIsClosedAndTouchesNoNetwork) {
    Net::TcpIp4Device device("10.1.2.3", 2101, 0);
    EXPECT_FALSE(device.isOpen());
    EXPECT_TRUE(device.isEOF());
    EXPECT_TRUE(device.isReliable());
    EXPECT_EQ(device.getName(), "10.1.2.3:2101");
    EXPECT_EQ(device.getLocalIP(), "");
    EXPECT_EQ(device.getLocalPort(), 0u);
    EXPECT_EQ(codeOf<IO::Exception>([&] { device.waitForData(10); }), Net::ErrNoSocket);
    EXPECT_EQ(codeOf<IO::SystemException>([&] { device.size(); }), unsigned(EBADF));
    EXPECT_EQ(codeOf<IO::SystemException>([&] { device.setBlocking(false); }), unsigned(EBADF));
}

TEST(TcpIp4DeviceTest, TalksToForeignEchoServerAndKeepsHostText) {
    unsigned int port = 0;
    auto peer = startPeer("echo-server", port);
    ASSERT_NE(port, 0u);
    for (const char* host : {"127.0.0.1", "localhost"}) {
        Net::TcpIp4Device device(host, port, 3000);
        device.open();
        ASSERT_TRUE(device.isOpen());
        EXPECT_EQ(device.getPeerIP(), host);  // a name is not replaced by its address
        EXPECT_EQ(device.getName(), std::string(host) + ":" + std::to_string(port));
        EXPECT_EQ(device.getLocalIP(), "127.0.0.1");
        EXPECT_NE(device.getLocalPort(), 0u);
        EXPECT_EQ(device.write("hello, peer", 11), 11);
        EXPECT_EQ(readExactly(device, 11), "hello, peer");
        device.close();
        EXPECT_FALSE(device.isOpen());
    }
}

TEST(TcpIp4DeviceTest, MovesTenMiBIntactThroughForeignEchoServer) {
    unsigned int port = 0;
    auto peer = startPeer("echo-server", port);
    ASSERT_NE(port, 0u);
    Net::TcpIp4Device device("127.0.0.1", port, 3000);
    device.open();
    const std::size_t total = 10u << 20;
    std::vector<char> data = SocketTest::pattern(total);
    std::thread writer([&] {
        for (std::size_t at = 0; at < total; at += 65536) device.write(data.data() + at, 65536);
    });
    std::string back = readExactly(device, total);
    writer.join();
    ASSERT_EQ(back.size(), total);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
}

TEST(TcpIp4DeviceTest, PeerCloseClosesDeviceAndReopenConnectsAgain) {
    unsigned int port = 0;
    auto peer = startPeer("greet-close-server", port);
    ASSERT_NE(port, 0u);
    Net::TcpIp4Device device("127.0.0.1", port, 3000);
    for (int round = 0; round < 2; ++round) {
        device.open();
        EXPECT_EQ(readExactly(device, 3), "bye");
        // The end of the stream is a read event with nothing to read.
        EXPECT_EQ(codeOf<IO::Exception>([&] { device.waitForData(5000); }), Net::ErrReadEventNoData);
        char c;
        EXPECT_EQ(device.readInternal(&c, 1), 0);
        EXPECT_FALSE(device.isOpen());
        EXPECT_TRUE(device.isEOF());
    }
}

TEST(TcpIp4DeviceTest, IsOpenProbeNoticesVanishedPeer) {
    Pair pair;
    pair.accepted->close();
    // The FIN is on its way; the probe sees it once it has arrived.
    EXPECT_EQ(codeOf<IO::Exception>([&] { pair.client.waitForData(5000); }), Net::ErrReadEventNoData);
    EXPECT_FALSE(pair.client.isOpen());
    EXPECT_EQ(pair.client.getSocket().getHandle(), -1);
}

TEST(TcpIp4DeviceTest, RefusedConnectReportsRefusalNotTimeout) {
    InspectableDevice device("127.0.0.1", SocketTest::unusedPort(), 2000);
    OS::StopWatch watch;
    EXPECT_EQ(codeOf<IO::SystemException>([&] { device.open(); }), unsigned(ECONNREFUSED));
    EXPECT_LT(watch.getElapsed(), 1000u);
    EXPECT_TRUE(device.getSocket().isBlocking());
    EXPECT_FALSE(device.isOpen());
}

TEST(TcpIp4DeviceTest, ConnectToFullAcceptQueueTimesOut) {
    SocketTest::RawListener listener(0);
    ASSERT_TRUE(listener.fillAcceptQueue());
    // Built without a time-out: the one set afterwards applies at the next open.
    InspectableDevice device("127.0.0.1", listener.getPort(), 0);
    device.setConnectTimeout(300);
    OS::StopWatch watch;
    EXPECT_THROW(device.open(), Base::TimeoutException);
    auto elapsed = watch.getElapsed();
    EXPECT_GE(elapsed, 290u);
    EXPECT_LT(elapsed, 2000u);
    // The socket is blocking again (its record and the descriptor agree) and not connected.
    EXPECT_TRUE(device.getSocket().isBlocking());
    int flags = ::fcntl(device.getSocket().getHandle(), F_GETFL);
    ASSERT_GE(flags, 0);
    EXPECT_EQ(flags & O_NONBLOCK, 0);
    EXPECT_FALSE(device.isOpen());
    // A wake-up ends a long connect wait early, as a time-out.
    device.setConnectTimeout(20000);
    device.wakeUp();
    watch.start();
    EXPECT_THROW(device.open(), Base::TimeoutException);
    EXPECT_LT(watch.getElapsed(), 5000u);
    EXPECT_TRUE(device.getSocket().isBlocking());
}

TEST(TcpIp4DeviceTest, UnusableHostsAreReportedAtOpen) {
    Net::TcpIp4Device unknown("no such host.invalid", 80, 0);
    EXPECT_EQ(codeOf<IO::Exception>([&] { unknown.open(); }), Net::ErrHostNotFound);
    EXPECT_FALSE(unknown.isOpen());
    // An empty host is the any-address: no peer, even with a listener on that port here.
    Net::TcpIp4Server server(0);
    for (const char* host : {"", "0.0.0.0"}) {
        Net::TcpIp4Device any(host, server.getLocalPort(), 0);
        EXPECT_EQ(codeOf<IO::SystemException>([&] { any.open(); }), unsigned(EADDRNOTAVAIL)) << host;
        EXPECT_FALSE(any.isOpen());
    }
    EXPECT_FALSE(server.waitForConnection(0));
}

TEST(TcpIp4DeviceTest, WaitForDataRules) {
    Pair pair;
    OS::StopWatch watch;
    EXPECT_FALSE(pair.client.waitForData(100));
    EXPECT_GE(watch.getElapsed(), 90u);
    EXPECT_FALSE(pair.client.waitForData(0));

    pair.accepted->write("abc", 3);
    ASSERT_TRUE(pair.client.waitForData(5000));
    watch.start();
    EXPECT_TRUE(pair.client.waitForData(10000));  // queued bytes: no wait at all
    EXPECT_LT(watch.getElapsed(), 1000u);
    EXPECT_EQ(pair.client.size(), 3);
    EXPECT_EQ(pair.client.getReadableBytes(), 3);
}

TEST(TcpIp4DeviceTest, ReadWithTimeoutCollectsWhatCameInTime) {
    Pair pair;
    pair.client.setTimeout(150);
    pair.accepted->write("abc", 3);
    char buffer[10];
    OS::StopWatch watch;
    EXPECT_EQ(pair.client.read(buffer, 10), 3);  // short: the time-out was reached
    EXPECT_GE(watch.getElapsed(), 140u);
    pair.accepted->write("0123456789", 10);
    EXPECT_EQ(pair.client.read(buffer, 10), 10);
    EXPECT_TRUE(pair.client.isOpen());
}

TEST(TcpIp4DeviceTest, NonBlockingReadWithoutDataWouldBlockAndStaysOpen) {
    Pair pair;
    pair.client.setBlocking(false);
    char buffer[8];
    EXPECT_THROW(pair.client.readInternal(buffer, 8), IO::WouldBlockException);
    EXPECT_TRUE(pair.client.isOpen());
    pair.accepted->write("xy", 2);
    ASSERT_TRUE(pair.client.waitForData(5000));
    ASSERT_EQ(pair.client.size(), 2);
    EXPECT_EQ(pair.client.readInternal(buffer, 1), 1);
    // A zero-length read never closes the device.
    EXPECT_EQ(pair.client.readInternal(buffer, 0), 0);
    EXPECT_TRUE(pair.client.isOpen());
    EXPECT_EQ(pair.client.readInternal(buffer, 8), 1);
    EXPECT_EQ(buffer[0], 'y');
}

TEST(TcpIp4DeviceTest, IsOpenFromAnotherThreadLeavesBlockedReadAlone) {
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
}

TEST(TcpIp4DeviceTest, WakeUpEndsBlockedReadAndKeepsConnection) {
    Pair pair;
    std::atomic<unsigned int> code{0};
    std::thread reader([&] {
        char c;
        code = codeOf<IO::SystemException>([&] { pair.client.readInternal(&c, 1); });
    });
    pair.client.wakeUp();
    reader.join();
    EXPECT_EQ(code, unsigned(EINTR));
    EXPECT_TRUE(pair.client.isOpen());
    pair.accepted->write("k", 1);
    EXPECT_EQ(readExactly(pair.client, 1), "k");
}

TEST(TcpIp4DeviceTest, CopiesShareOneSocket) {
    Pair pair;
    auto copy = std::make_unique<Net::TcpIp4Device>(pair.client);
    EXPECT_EQ(copy->getName(), pair.client.getName());
    copy.reset();  // the last copy is still there: the socket stays open
    EXPECT_TRUE(pair.client.isOpen());
    Net::TcpIp4Device second(pair.client);
    second.close();  // closing one closes it for all
    EXPECT_FALSE(pair.client.isOpen());
    char c;
    EXPECT_EQ(pair.accepted->readInternal(&c, 1), 0);
}

TEST(TcpIp4DeviceTest, WrapsConnectedDescriptor) {
    Net::TcpIp4Server server(0);
    int fd = SocketTest::connectRaw(server.getLocalPort());
    ASSERT_GE(fd, 0);
    Net::TcpIp4Device device(fd, 0);
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(device.getPeerIP(), "");
    EXPECT_EQ(device.getPeerPort(), 0u);
    std::unique_ptr<IO::Device> accepted(server.acceptInternal());
    device.write("raw", 3);
    EXPECT_EQ(readExactly(*accepted, 3), "raw");
}

}  // namespace
