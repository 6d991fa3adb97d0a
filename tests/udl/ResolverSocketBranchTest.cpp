// The resolver's TCP, server and pipe branches on loopback.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include <varonet/udl/UDLErrors.h>
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
    const struct { const char *locator, *name; unsigned int connectTimeout; bool noDelay; } rows[] = {  // name nullptr: refused
        {"tcpip:127.0.0.1@5000", "127.0.0.1:5000", 0, true},
        {"tcpip:localhost:Port=5000,ConnectTimeout=3000,NoDelay=0", "localhost:5000", 3000, false},
        {"tcpip:host@0:Port=80", "host:80", 0, true},                           // a 0 port falls back to the option
        {"tcpip:host@5000:ConnectTimeout=3000,NoDelay", "host:5000", 0, true},  // read in the second form only
        {"tcpip:host@65535:NoDelay=0", "host:65535", 0, false},
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
        auto* tcp = dynamic_cast<Net::TcpIp4Device*>(device.get());
        ASSERT_EQ(tcp != nullptr, row.name != nullptr) << row.locator;
        if (!tcp) continue;
        EXPECT_TRUE(tcp->getName() == row.name && tcp->getConnectTimeout() == row.connectTimeout &&
                    tcp->getNoDelay() == row.noDelay && !tcp->isOpen())  // nothing connects before open
            << row.locator;
    }
}

TEST_F(ResolverSocketBranchTest, ServerLocatorForms) {
    const unsigned int port = TestSupport::unusedPort();
    // clang-format off
    const struct { std::string locator; unsigned int code; bool listens; } rows[] = {  // not listening: 0 = null
        {"server:tcpip:" + std::to_string(port), 0, true},
        {"server:tcpip:Port=" + std::to_string(port) + ",ConnectTimeout=5000", 0, true},
        {"server:tcpip:0", 0, false}, {"server:tcpip:4000,ConnectTimeout=5000", 0, false}, {"server:tcpip:Port=x", 0, false},
        {"server:tcpip:70000", UDL::ErrBadLocator, false}, {"server:tcpip:Port=65536", UDL::ErrBadLocator, false},
        // Locators that name no server this resolver knows: null, no error.
        {"serial:COM1@9600", 0, false}, {"Server:serial:Device=x", 0, false}, {"server:analogmodem:Device=x", 0, false},
        {"server:serial:Device=none\\:", 0, false}, {"server:serial:Device=serial\\:COM1", 0, false},
    };
    // clang-format on
    for (const auto& row : rows) {
        std::unique_ptr<IO::DeviceServer> server;
        EXPECT_EQ(codeOf([&] { server.reset(mResolver.resolveServer(row.locator, nullptr, nullptr)); }), row.code)
            << row.locator;
        auto* tcp = dynamic_cast<Net::TcpIp4Server*>(server.get());
        ASSERT_EQ(tcp != nullptr, row.listens) << row.locator;
        EXPECT_EQ(tcp ? tcp->getLocalPort() : port, port) << row.locator;
    }
    // A 0 through Port is passed on: the system picks the port.
    std::unique_ptr<IO::DeviceServer> any(mResolver.resolveServer("server:tcpip:Port=0,NoDelay=0", nullptr, nullptr));
    EXPECT_NE(static_cast<Net::TcpIp4Server&>(*any).getLocalPort(), 0u);
    EXPECT_FALSE(static_cast<Net::TcpIp4Server&>(*any).getNoDelay());
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
