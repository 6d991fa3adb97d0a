#include "udl/BaseDeviceResolver.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "net/socket/DomainAddress.h"
#include "net/socket/DomainDevice.h"
#include "net/socket/DomainServer.h"
#include "net/socket/TcpIp4Device.h"
#include "net/socket/TcpIp4Server.h"
#include "support/CountingDeviceManager.h"
#include "support/SocketTestProcess.h"
#include "udl/UDLErrors.h"

namespace {

// A private pipe directory for one test, given back however the test ends.
class PipeDirectory {
public:
    PipeDirectory() { Net::DomainAddress::setDirectory(mTemp.getPath() + "/pipes"); }
    ~PipeDirectory() { Net::DomainAddress::setDirectory(""); }

private:
    SocketTest::TempDirectory mTemp;
};

std::unique_ptr<IO::Device> resolve(const Base::String& locator, IO::DeviceManager* manager = nullptr) {
    UDL::BaseDeviceResolver resolver;
    return std::unique_ptr<IO::Device>(resolver.resolve(locator, nullptr, manager));
}

struct TcpRow {
    const char* locator;
    const char* host;
    unsigned int port;
    unsigned int connectTimeout;
};

TEST(ResolverSocketBranchTest, TcpIpLocatorForms) {
    const TcpRow rows[] = {
        {"tcpip:127.0.0.1@5000", "127.0.0.1", 5000, 0},
        {"tcpip:localhost:Port=5000,ConnectTimeout=3000", "localhost", 5000, 3000},
        {"tcpip:host@0:Port=80", "host", 80, 0},                       // a 0 port falls back to the option
        {"tcpip:host@5000:ConnectTimeout=3000", "host", 5000, 0},      // the option is read in the second form only
        {"tcpip:host@x:Port=0,ConnectTimeout=7", "host", 0, 7},        // a valid 0 from the option is used
        {"tcpip::Port=21", "", 21, 0},
    };
    for (const TcpRow& row : rows) {
        auto device = resolve(row.locator);
        auto* tcp = dynamic_cast<Net::TcpIp4Device*>(device.get());
        ASSERT_NE(tcp, nullptr) << row.locator;
        EXPECT_EQ(tcp->getPeerIP(), row.host) << row.locator;
        EXPECT_EQ(tcp->getPeerPort(), row.port) << row.locator;
        EXPECT_EQ(tcp->getConnectTimeout(), row.connectTimeout) << row.locator;
        EXPECT_FALSE(tcp->isOpen()) << row.locator;  // nothing connects before open
    }
}

TEST(ResolverSocketBranchTest, TcpIpWithoutUsablePortThrows9729) {
    for (const char* locator : {"tcpip:host", "tcpip:host@abc", "tcpip:host:Port=abc", "tcpip:host@0"}) {
        try {
            resolve(locator);
            ADD_FAILURE() << locator;
        } catch (const Base::Exception& e) {
            EXPECT_EQ(e.getErrorCode(), UDL::ErrBadLocator) << locator;
        }
    }
}

TEST(ResolverSocketBranchTest, ResolvedTcpClientTalksToServer) {
    Net::TcpIp4Server server(0);
    auto client = resolve("tcpip:localhost:Port=" + std::to_string(server.getLocalPort()) + ",ConnectTimeout=3000");
    client->open();
    std::unique_ptr<IO::Device> served(server.acceptInternal());
    client->write("via locator", 11);
    ASSERT_TRUE(served->waitForData(5000));
    char buffer[16];
    EXPECT_EQ(served->readInternal(buffer, sizeof buffer), 11);
    EXPECT_TRUE(client->isReliable());
}

TEST(ResolverSocketBranchTest, ManagerReceivesTheSocketDevices) {
    PipeDirectory pipes;
    TestSupport::CountingDeviceManager manager;
    UDL::BaseDeviceResolver resolver;
    IO::Device* tcp = resolver.resolve("tcpip:127.0.0.1:Port=7,ConnectTimeout=250", nullptr, &manager);
    IO::Device* pipe = resolver.resolve("domain:gateway", nullptr, &manager);
    ASSERT_EQ(manager.managed.size(), 2u);
    EXPECT_EQ(manager.managed[0], tcp);
    EXPECT_EQ(manager.managed[1], pipe);
    EXPECT_EQ(dynamic_cast<Net::TcpIp4Device*>(tcp)->getConnectTimeout(), 250u);
}

TEST(ResolverSocketBranchTest, DomainGivesPipeClientOfThatName) {
    PipeDirectory pipes;
    Net::DomainServer server("gateway");
    auto client = resolve("domain:gateway");
    ASSERT_NE(dynamic_cast<Net::DomainDevice*>(client.get()), nullptr);
    EXPECT_EQ(client->getName(), "domain:gateway");
    EXPECT_FALSE(client->isOpen());
    client->open();
    std::unique_ptr<IO::Device> served(server.acceptInternal());
    served->write("hi", 2);
    ASSERT_TRUE(client->waitForData(5000));
    char buffer[4];
    EXPECT_EQ(client->readInternal(buffer, sizeof buffer), 2);
}

}  // namespace
