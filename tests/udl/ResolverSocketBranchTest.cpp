#include <varonet/udl/BaseDeviceResolver.h>

#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <varonet/base/Exception.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include "support/CountingDeviceManager.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include <varonet/udl/UDLErrors.h>

namespace {

// Each test gets a private pipe directory, given back however the test ends.
class ResolverSocketBranchTest : public ::testing::Test {
protected:
    void SetUp() override { Net::DomainAddress::setDirectory(mTemp.path() + "/pipes"); }
    void TearDown() override { Net::DomainAddress::setDirectory(""); }

    UDL::BaseDeviceResolver mResolver;
    TestSupport::TempDir mTemp;
};

TEST_F(ResolverSocketBranchTest, TcpIpLocatorForms) {
    const struct {
        const char* locator;
        const char* host;  // nullptr: refused as a bad locator
        unsigned int port, connectTimeout;
    } rows[] = {
        {"tcpip:127.0.0.1@5000", "127.0.0.1", 5000, 0},
        {"tcpip:localhost:Port=5000,ConnectTimeout=3000", "localhost", 5000, 3000},
        {"tcpip:host@0:Port=80", "host", 80, 0},                   // a 0 port falls back to the option
        {"tcpip:host@5000:ConnectTimeout=3000", "host", 5000, 0},  // the option is read in the second form only
        {"tcpip:host@x:Port=0,ConnectTimeout=7", "host", 0, 7},    // a valid 0 from the option is used
        {"tcpip::Port=21", "", 21, 0},
        {"tcpip:host", nullptr, 0, 0},
        {"tcpip:host@abc", nullptr, 0, 0},
        {"tcpip:host:Port=abc", nullptr, 0, 0},
        {"tcpip:host@0", nullptr, 0, 0},
    };
    for (const auto& row : rows) {
        std::unique_ptr<IO::Device> device;
        unsigned int code = 0;
        try {
            device.reset(mResolver.resolve(row.locator, nullptr, nullptr));
        } catch (const Base::Exception& e) {
            code = e.getErrorCode();
        }
        EXPECT_EQ(code, row.host ? 0u : UDL::ErrBadLocator) << row.locator;
        if (!row.host) continue;
        auto* tcp = dynamic_cast<Net::TcpIp4Device*>(device.get());
        ASSERT_NE(tcp, nullptr) << row.locator;
        EXPECT_EQ(tcp->getPeerIP(), row.host) << row.locator;
        EXPECT_EQ(tcp->getPeerPort(), row.port) << row.locator;
        EXPECT_EQ(tcp->getConnectTimeout(), row.connectTimeout) << row.locator;
        EXPECT_FALSE(tcp->isOpen()) << row.locator;  // nothing connects before open
    }
}

TEST_F(ResolverSocketBranchTest, ManagerReceivesTheSocketDevicesAndDomainNamesThePipe) {
    Net::DomainServer server("gateway");
    TestSupport::CountingDeviceManager manager;
    IO::Device* tcp = mResolver.resolve("tcpip:127.0.0.1:Port=7,ConnectTimeout=250", nullptr, &manager);
    IO::Device* pipe = mResolver.resolve("domain:gateway", nullptr, &manager);
    ASSERT_EQ(manager.managed.size(), 2u);
    EXPECT_EQ(manager.managed[0], tcp);
    EXPECT_EQ(manager.managed[1], pipe);
    ASSERT_NE(dynamic_cast<Net::DomainDevice*>(pipe), nullptr);
    EXPECT_EQ(pipe->getName(), "domain:gateway");
    EXPECT_FALSE(pipe->isOpen());
    pipe->open();
    EXPECT_TRUE(server.waitForConnection(5000));
}

TEST_F(ResolverSocketBranchTest, TcpIpServerPortForms) {
    const struct {
        const char* form;
        bool listens;
    } rows[] = {
        {"server:tcpip:%u", true}, {"server:tcpip:Port=%u", true}, {"server:tcpip:Port=%u,ConnectTimeout=5000", true},
        {"server:tcpip:0", false}, {"server:tcpip:4000,ConnectTimeout=5000", false}, {"server:tcpip:", false},
        {"server:TCPIP:4000", false}, {"server:tcpip:Port=x", false},
    };
    for (const auto& row : rows) {
        unsigned int port = TestSupport::unusedPort();
        char locator[64];
        std::snprintf(locator, sizeof locator, row.form, port);
        std::unique_ptr<IO::DeviceServer> server(mResolver.resolveServer(locator, nullptr, nullptr));
        auto* tcp = dynamic_cast<Net::TcpIp4Server*>(server.get());
        ASSERT_EQ(tcp != nullptr, row.listens) << locator;
        if (!tcp) continue;
        EXPECT_EQ(tcp->getLocalPort(), port) << locator;
    }
    // A 0 through Port is passed on: the system picks the port.
    std::unique_ptr<IO::DeviceServer> any(mResolver.resolveServer("server:tcpip:Port=0", nullptr, nullptr));
    ASSERT_NE(dynamic_cast<Net::TcpIp4Server*>(any.get()), nullptr);
    EXPECT_NE(dynamic_cast<Net::TcpIp4Server*>(any.get())->getLocalPort(), 0u);
}

TEST_F(ResolverSocketBranchTest, DomainServerAndServerLocatorAsClientDevice) {
    std::unique_ptr<IO::DeviceServer> server(mResolver.resolveServer("server:domain:a,b=c", nullptr, nullptr));
    auto* pipe = dynamic_cast<Net::DomainServer*>(server.get());
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(pipe->getPipeName(), "a,b=c");  // the whole rest is the name
    // As a client locator it gives a device that serves one caller.
    std::unique_ptr<IO::Device> device(mResolver.resolve("server:domain:gateway", nullptr, nullptr));
    ASSERT_NE(device, nullptr);
    Net::DomainDevice client("gateway");
    client.open();
    device->open();  // the caller is queued already
    client.write("hi", 2);
    ASSERT_TRUE(device->waitForData(5000));
    char buffer[4];
    EXPECT_EQ(device->readInternal(buffer, sizeof buffer), 2);
}

}  // namespace
