// Net::TcpDevice and Net::TcpServer on both families: listening, every address tried, failures named.
#include <varonet/net/socket/TcpDevice.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/TcpServer.h>
#include "support/Loopback.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;
using TestSupport::messageOf;

// A client whose host has the addresses given, in that order (as a name with several would).
struct Listed : Net::TcpDevice {
    Listed(std::vector<Base::String> addresses, unsigned int port, unsigned int ms)
        : Net::TcpDevice("several", port, ms), mAddresses(std::move(addresses)) {}
    std::vector<Base::String> lookUpHost() override { return mAddresses; }
    std::vector<Base::String> mAddresses;
};

std::unique_ptr<Net::TcpDevice> accepted(Net::TcpServer& server) {
    return std::unique_ptr<Net::TcpDevice>(dynamic_cast<Net::TcpDevice*>(server.acceptInternal()));
}

class TcpDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestSupport::hasIPv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback address ::1";
    }
};

TEST_F(TcpDeviceTest, AServerListensOnBothFamiliesUnlessToldOtherwiseAndNamesItsCallers) {
    Net::TcpServer both(0);
    const std::string port = std::to_string(both.getLocalPort());
    EXPECT_EQ(both.getListenAddress(), "[::]:" + port);
    EXPECT_STREQ(both.getFamilies(), "IPv6 and IPv4");
    EXPECT_TRUE(both.listensEverywhere());
    for (const char* host : {"[::1]", "127.0.0.1", "localhost"}) {
        Net::TcpDevice client(host, both.getLocalPort(), 2000);
        client.open();
        auto caller = accepted(both);
        EXPECT_EQ(caller->getPeerAddress(), client.getLocalAddress()) << host;
        EXPECT_EQ(caller->getName(), client.getLocalAddress()) << host;
        client.write(Base::String("v6?"));
        EXPECT_EQ(TestSupport::readFor(*caller, 3, 5000), "v6?") << host;
    }
    EXPECT_EQ(Net::TcpDevice("::1", 7, 0).getName(), "[::1]:7");
    // clang-format off
    const struct { const char* bind; Net::EAddressFamily family; const char* address; const char* families; const char* refused; } rows[] = {
        {"::1", Net::AnyFamily, "[::1]", "IPv6", "127.0.0.1"},
        {"", Net::IPv4Only, "0.0.0.0", "IPv4", "::1"},
        {"", Net::IPv6Only, "[::]", "IPv6", "127.0.0.1"},
        {"localhost", Net::IPv4Only, "127.0.0.1", "IPv4", "::1"},
    };
    // clang-format on
    for (const auto& row : rows) {
        Net::TcpServer server(0, row.bind, row.family);
        const std::string at = std::to_string(server.getLocalPort());
        EXPECT_EQ(server.getListenAddress(), row.address + (":" + at)) << row.bind;
        EXPECT_STREQ(server.getFamilies(), row.families) << row.bind;
        EXPECT_EQ(server.listensEverywhere(), *row.bind == '\0') << row.bind;
        Net::TcpDevice other(row.refused, server.getLocalPort(), 2000);
        EXPECT_EQ(codeOf([&] { other.open(); }), unsigned(ECONNREFUSED)) << row.bind;
    }
}

TEST_F(TcpDeviceTest, EveryAddressIsTriedInTurnWithinOneConnectTimeOut) {
    TestSupport::RawListener full(0);  // 127.0.0.1: a full queue never answers
    ASSERT_TRUE(full.fillAcceptQueue());
    Net::TcpServer server(full.getPort(), "::1");
    Listed client({"127.0.0.1", "::1"}, full.getPort(), 600);
    OS::StopWatch watch;
    client.open();
    EXPECT_GE(watch.getElapsed(), 290u) << "half the time for the first address";
    EXPECT_LT(watch.getElapsed(), 2000u);
    EXPECT_EQ(client.getPeerAddress(), "[::1]:" + std::to_string(full.getPort()));
    client.close();
    server = Net::TcpServer(0);  // the old one's port goes with it
    const std::string port = std::to_string(full.getPort());
    Listed nobody({"::1", "127.0.0.1"}, full.getPort(), 600);
    EXPECT_EQ(messageOf([&] { nobody.open(); }),
              "error 4100: connect to several:" + port + ", tried IPv6 [::1]:" + port +
                  ": Connection refused, then IPv4 127.0.0.1:" + port + ": no answer within 600 ms");
    EXPECT_FALSE(nobody.isOpen());
    Listed woken({"127.0.0.1", "::1"}, full.getPort(), 20000);
    woken.wakeUp();  // ends the first address's wait, and the open with it: nothing else is tried
    EXPECT_THROW(woken.open(), Base::TimeoutException);
}

TEST_F(TcpDeviceTest, FailuresNameTheAddressAndItsFamily) {
    const unsigned int free = TestSupport::unusedPort();
    const std::string port = std::to_string(free);
    Net::TcpServer taken(0);
    const std::string busy = std::to_string(taken.getLocalPort());
    auto asIPv6 = [](Net::TcpDevice device) {
        device.setFamily(Net::IPv6Only);
        device.open();
    };
    // clang-format off
    const struct { std::function<void()> call; unsigned int code; std::string text; } rows[] = {
        {[&] { Net::TcpDevice("::1", free, 0).open(); }, ECONNREFUSED, "connect to IPv6 [::1]:" + port + ": Connection refused (errno 111)"},
        {[&] { asIPv6(Net::TcpDevice("127.0.0.1", free, 0)); }, Net::ErrHostNotFound, "error 1537: host not found: 127.0.0.1 has no IPv6 address (it is an IPv4 address)"},
        {[&] { Net::TcpDevice("no.such.host.invalid", free, 0).open(); }, Net::ErrHostNotFound, ""},
        {[&] { Net::TcpDevice("::", free, 0).open(); }, EADDRNOTAVAIL, "connect to IPv6 [::]:" + port + ": Cannot assign requested address (errno 99)"},
        {[&] { Net::TcpDevice("", free, 0).open(); }, EADDRNOTAVAIL, ""},
        {[&] { Net::TcpServer(0, "2001:db8::1"); }, EADDRNOTAVAIL, "bind to IPv6 [2001:db8::1]:0: Cannot assign requested address (errno 99)"},
        {[&] { Net::TcpServer(taken.getLocalPort(), "", Net::IPv4Only); }, EADDRINUSE, "bind to IPv4 0.0.0.0:" + busy + ": Address already in use (errno 98)"},
        {[&] { Net::TcpServer(0, "::1", Net::IPv4Only); }, Net::ErrHostNotFound, "error 1537: host not found: [::1] has no IPv4 address (it is an IPv6 address)"},
        {[] { Net::TcpServer(65536); }, Net::ErrBadPort, ""},
        {[] { Net::TcpDevice("::1", 0, 0); }, Net::ErrBadPort, ""},
    };
    // clang-format on
    for (const auto& row : rows) {
        EXPECT_EQ(codeOf(row.call), row.code) << row.text;
        if (!row.text.empty()) {
            EXPECT_EQ(messageOf(row.call), row.text);
        }
    }
}

}  // namespace
