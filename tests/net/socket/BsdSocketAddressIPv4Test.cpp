#include "net/socket/BsdSocketAddressIPv4.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "base/IOException.h"
#include "net/socket/SocketErrors.h"
#include "net/socket/TcpIp4Server.h"

namespace {

TEST(BsdSocketAddressIPv4Test, TextAndPortRoundTrip) {
    struct Row {
        const char* text;
        unsigned int port;
        const char* ip;
    } rows[] = {
        {"", 80, "0.0.0.0"},
        {"192.168.1.20", 4000, "192.168.1.20"},
        {"127.0.0.1", 65535, "127.0.0.1"},
        {"10.0.0.1", 0, "10.0.0.1"},
    };
    for (const Row& row : rows) {
        Net::BsdSocketAddressIPv4 address(row.text, row.port);
        EXPECT_EQ(address.getIP(), row.ip) << row.text;
        EXPECT_EQ(address.getPort(), row.port) << row.text;
        EXPECT_EQ(address.getSockAddrLength(), 16u);
        Net::BsdSocketAddressIPv4 copy(address);
        EXPECT_EQ(copy.getIP(), row.ip);
    }
}

TEST(BsdSocketAddressIPv4Test, ValidIPText) {
    for (const char* good : {"", "10.0.0.1", "255.255.255.255", "0.0.0.0"})
        EXPECT_TRUE(Net::BsdSocketAddressIPv4::isValidIP(good)) << good;
    for (const char* bad : {"localhost", "10.0.0.256", "1.2.3", "::1", "10.0.0.1 "})
        EXPECT_FALSE(Net::BsdSocketAddressIPv4::isValidIP(bad)) << bad;
}

TEST(BsdSocketAddressIPv4Test, BadTextIsRejected) {
    try {
        Net::BsdSocketAddressIPv4 address("not an address", 1);
        FAIL();
    } catch (const IO::SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), unsigned(EINVAL));
    }
    try {
        Net::BsdSocketAddressIPv4::isValidIP(Base::String("1.2\0.3", 6));
        FAIL();
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), Net::ErrNameConversion);
    }
}

TEST(BsdSocketAddressIPv4Test, ResolveHost) {
    EXPECT_EQ(Net::resolveHost("127.0.0.1", 7).getIP(), "127.0.0.1");
    EXPECT_EQ(Net::resolveHost("", 7).getIP(), "0.0.0.0");
    Net::BsdSocketAddressIPv4 local = Net::resolveHost("localhost", 9);
    EXPECT_EQ(local.getIP(), "127.0.0.1");
    EXPECT_EQ(local.getPort(), 9u);
    try {
        Net::resolveHost("no such host.invalid", 80);
        FAIL();
    } catch (const IO::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), Net::ErrHostNotFound);
    }
}

TEST(BsdSocketAddressIPv4Test, PeerOfUnconnectedSocketFailsWithoutClosingIt) {
    Net::BsdSocket socket(Net::BsdSocketType::tcpIp4(), 0);
    Net::BsdSocketAddressIPv4 any("", 0);
    socket.bind(any.getSockAddr(), any.getSockAddrLength());
    int handle = socket.getHandle();
    try {
        Net::BsdSocketAddressIPv4::getPeer(socket);
        FAIL();
    } catch (const IO::SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), unsigned(ENOTCONN));
    }
    EXPECT_EQ(socket.getHandle(), handle);
    EXPECT_EQ(Net::BsdSocketAddressIPv4::getLocal(socket).getIP(), "0.0.0.0");
}

TEST(BsdSocketAddressIPv4Test, InterfaceQueriesGiveFixedAnswers) {
    Base::String out = "unchanged";
    EXPECT_EQ(Net::BsdSocketAddressIPv4::getInterfaceMask(Net::NetmaskDotted, "lo"), "Not supported");
    EXPECT_EQ(Net::BsdSocketAddressIPv4::getDefaultGateway(), "Not supported");
    EXPECT_FALSE(Net::BsdSocketAddressIPv4::getInterfaceAddress(out, "lo"));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(Net::BsdSocketAddressIPv4::hasLink("anything"));
}

}  // namespace
