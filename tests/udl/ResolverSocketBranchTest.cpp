// The resolver's TCP, server and pipe branches on loopback.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <varonet/base/SerialDevice.h>
#include <varonet/net/rfc2217/Rfc2217Server.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/TcpDevice.h>
#include <varonet/net/socket/TcpServer.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/UDLParser.h>
#include "support/CountingDeviceManager.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;

class ResolverSocketBranchTest : public ::testing::Test {
protected:
    UDL::BaseDeviceResolver mResolver;
};

TEST_F(ResolverSocketBranchTest, TcpIpLocatorForms) {
    // clang-format off
    const struct { const char *locator, *name; unsigned int connectTimeout; bool noDelay; Net::EAddressFamily family = Net::AnyFamily; } rows[] = {  // name nullptr: refused
        {"tcpip:127.0.0.1@5000", "127.0.0.1:5000", 0, true},
        {"tcpip:localhost:Port=5000,ConnectTimeout=3000,NoDelay=0", "localhost:5000", 3000, false},
        {"tcpip:host@0:Port=80", "host:80", 0, true},                           // a 0 port falls back to the option
        {"tcpip:host@5000:ConnectTimeout=3000,NoDelay", "host:5000", 0, true},  // read in the second form only
        {"tcpip:host@65535:NoDelay=0", "host:65535", 0, false},
        // An IPv6 address goes in brackets; its colons need no escape there (or one, as asString writes them).
        {"tcpip:[::1]@7000", "[::1]:7000", 0, true}, {"tcpip:[fe80::1%lo]:Port=7000,ConnectTimeout=300", "[fe80::1%lo]:7000", 300, true},
        {"tcpip:[\\:\\:1]@7000:Family=IPv6", "[::1]:7000", 0, true, Net::IPv6Only},
        {"tcpip:host:Port=1,Family=IPv4", "host:1", 0, true, Net::IPv4Only}, {"tcpip:host@1:Family=ipv4", nullptr, 0, true},
        {"tcpip:host", nullptr, 0, true}, {"tcpip:host:Port=abc", nullptr, 0, true}, {"tcpip:host@0", nullptr, 0, true},
        {"tcpip:host@x:Port=0", nullptr, 0, true},  // port 0 names no peer
        {"tcpip:127.0.0.1@101799", nullptr, 0, true}, {"tcpip:host:Port=65536", nullptr, 0, true},
    };
    // clang-format on
    for (const auto& row : rows) {
        std::unique_ptr<IO::Device> device;
        EXPECT_EQ(codeOf([&] { device.reset(mResolver.resolve(row.locator, nullptr, nullptr)); }),
                  row.name ? 0u : UDL::ErrBadLocator)
            << row.locator;
        auto* tcp = dynamic_cast<Net::TcpDevice*>(device.get());
        ASSERT_EQ(tcp != nullptr, row.name != nullptr) << row.locator;
        if (!tcp) continue;
        EXPECT_EQ(tcp->getName(), row.name);
        EXPECT_EQ(tcp->getConnectTimeout(), row.connectTimeout) << row.locator;
        EXPECT_EQ(tcp->getNoDelay(), row.noDelay) << row.locator;
        EXPECT_EQ(tcp->getFamily(), row.family) << row.locator;
        EXPECT_FALSE(tcp->isOpen()) << row.locator << ": nothing connects before open";
    }
    // The bracketed form survives the parser's round trip (asString escapes the colons, parsing removes them).
    UDL::UDLParser parsed("tcpip:[::1]@7000", "port", "");
    EXPECT_EQ(parsed.asString("port", "").str(), "tcpip:[\\:\\:1]@7000");
    EXPECT_EQ(UDL::UDLParser(parsed.asString("port", ""), "port", "").getTarget().str(), "[::1]");
}

TEST_F(ResolverSocketBranchTest, ServerLocatorForms) {
    const unsigned int port = TestSupport::unusedPort();
    const std::string p = std::to_string(port);
    // clang-format off
    const struct { std::string locator; unsigned int code; const char* listens; bool rfc2217 = false; } rows[] = {  // listens nullptr: no server
        {"server:tcpip:" + p, 0, "[::]"}, {"server:tcpip:Port=" + p + ",ConnectTimeout=5000", 0, "[::]"},
        {"server:tcpip:Port=" + p + ",Bind=127.0.0.1", 0, "127.0.0.1"}, {"server:tcpip:Port=" + p + ",Family=IPv4", 0, "0.0.0.0"},
        {"server:rfc2217:" + p, 0, "[::]", true}, {"server:rfc2217:Port=" + p + ",Bind=localhost,Family=IPv4", 0, "127.0.0.1", true},
        {"server:tcpip:0", 0, nullptr}, {"server:tcpip:4000,ConnectTimeout=5000", 0, nullptr}, {"server:tcpip:Port=x", 0, nullptr},
        {"server:tcpip:70000", UDL::ErrBadLocator, nullptr}, {"server:tcpip:Port=65536", UDL::ErrBadLocator, nullptr},
        {"server:tcpip:Port=1,Family=IP6", UDL::ErrBadLocator, nullptr},
        // Locators that name no server this resolver knows: null, no error.
        {"serial:COM1@9600", 0, nullptr}, {"Server:serial:Device=x", 0, nullptr}, {"server:analogmodem:Device=x", 0, nullptr},
        {"server:serial:Device=none\\:", 0, nullptr}, {"server:serial:Device=serial\\:COM1", 0, nullptr},
    };
    // clang-format on
    for (const auto& row : rows) {
        std::unique_ptr<IO::DeviceServer> server;
        EXPECT_EQ(codeOf([&] { server.reset(mResolver.resolveServer(row.locator, nullptr, nullptr)); }), row.code)
            << row.locator;
        auto* tcp = dynamic_cast<Net::TcpServer*>(server.get());
        ASSERT_EQ(tcp != nullptr, row.listens != nullptr) << row.locator;
        if (!tcp) continue;
        EXPECT_EQ(tcp->getListenAddress(), row.listens + (":" + p)) << row.locator;
        EXPECT_EQ(dynamic_cast<Net::Rfc2217Server*>(tcp) != nullptr, row.rfc2217) << row.locator;
    }
    // A 0 through Port is passed on: the system picks the port.
    std::unique_ptr<IO::DeviceServer> any(mResolver.resolveServer("server:tcpip:Port=0,NoDelay=0", nullptr, nullptr));
    EXPECT_NE(static_cast<Net::TcpServer&>(*any).getLocalPort(), 0u);
    EXPECT_FALSE(static_cast<Net::TcpServer&>(*any).getNoDelay());
}

TEST_F(ResolverSocketBranchTest, RemoteSerialLocatorForms) {
    // clang-format off
    const struct { const char *locator, *name; unsigned int code = 0; const char* reason = ""; } rows[] = {  // name nullptr: no device
        {"rfc2217:host@2217", "host:2217"}, {"rfc2217:[::1]:Port=2217,baudrate=115k,Parity=Even", "[::1]:2217"},
        {"rfc2217:host@1:DataBits=9", nullptr, 0, "DataBits is 9, not 5, 6, 7 or 8"},
        {"rfc2217:host@1:baudrate=1000000", nullptr, 0, "the baud rate 1000000 is not one of the listed rates"},
        {"rfc2217:host@1:BitRate=fast", nullptr, 0, "the bit rate fast is not a number of bits per second"},
        {"rfc2217:host", nullptr, UDL::ErrBadLocator}, {"rfc2217:host@70000", nullptr, UDL::ErrBadLocator},
        {"rfc2217:host@1:Family=any", nullptr, UDL::ErrBadLocator},
    };
    // clang-format on
    for (const auto& row : rows) {
        std::unique_ptr<IO::Device> device;
        EXPECT_EQ(codeOf([&] { device.reset(mResolver.resolve(row.locator, nullptr, nullptr)); }), row.code)
            << row.locator;
        auto* port = dynamic_cast<IO::SerialDevice*>(device.get());
        ASSERT_EQ(port != nullptr, row.name != nullptr) << row.locator;
        EXPECT_EQ(port ? port->getName().str() : mResolver.getReason().str(), port ? row.name : row.reason)
            << row.locator;
    }
    // A name that has no address: the open says which, and the port stays closed.
    auto nowhere = TestSupport::resolveAs<IO::SerialDevice>("rfc2217:no.such.host.invalid@2217:ConnectTimeout=500");
    EXPECT_EQ(codeOf([&] { nowhere->open(); }), Net::ErrHostNotFound);
    EXPECT_FALSE(nowhere->isOpen());
}

TEST_F(ResolverSocketBranchTest, PipesByNameAndSocketDevicesThroughAManager) {
    TestSupport::TempDir temp;
    Net::DomainAddress::setDirectory(temp.file("pipes"));
    std::unique_ptr<IO::DeviceServer> named(mResolver.resolveServer("server:domain:a,b=c", nullptr, nullptr));
    ASSERT_NE(dynamic_cast<Net::DomainServer*>(named.get()), nullptr);
    EXPECT_EQ(static_cast<Net::DomainServer&>(*named).getPipeName(), "a,b=c");  // the whole rest is the name
    std::unique_ptr<IO::Device> served(mResolver.resolve("server:domain:gateway", nullptr, nullptr));
    ASSERT_NE(served, nullptr);
    EXPECT_EQ(mResolver.resolve("server:none", nullptr, nullptr), nullptr);
    TestSupport::CountingDeviceManager manager;
    IO::Device* tcp = mResolver.resolve("tcpip:127.0.0.1:Port=7,ConnectTimeout=250", nullptr, &manager);
    IO::Device* pipe = mResolver.resolve("domain:gateway", nullptr, &manager);
    EXPECT_EQ(manager.managed, (std::vector<IO::Device*>{tcp, pipe}));
    EXPECT_EQ(pipe->getName(), "domain:gateway");
    pipe->open();
    served->open();  // the caller is queued already
    EXPECT_EQ(served->getName(), "domain:");
    Net::DomainAddress::setDirectory("");
}

}  // namespace
