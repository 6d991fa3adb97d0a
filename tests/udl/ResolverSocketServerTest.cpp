#include "udl/BaseDeviceResolver.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "net/socket/DomainAddress.h"
#include "net/socket/DomainDevice.h"
#include "net/socket/DomainServer.h"
#include "net/socket/TcpIp4Device.h"
#include "net/socket/TcpIp4Server.h"
#include "support/SocketTestLoopback.h"
#include "support/SocketTestProcess.h"

namespace {

class PipeDirectory {
public:
    PipeDirectory() { Net::DomainAddress::setDirectory(mTemp.getPath() + "/pipes"); }
    ~PipeDirectory() { Net::DomainAddress::setDirectory(""); }

private:
    SocketTest::TempDirectory mTemp;
};

std::unique_ptr<IO::DeviceServer> resolveServer(const std::string& locator) {
    UDL::BaseDeviceResolver resolver;
    return std::unique_ptr<IO::DeviceServer>(resolver.resolveServer(locator, nullptr, nullptr));
}

TEST(ResolverSocketServerTest, TcpIpPortForms) {
    for (const char* form : {"server:tcpip:%u", "server:tcpip:Port=%u", "server:tcpip:Port=%u,ConnectTimeout=5000"}) {
        unsigned int port = SocketTest::unusedPort();
        char locator[64];
        std::snprintf(locator, sizeof locator, form, port);
        auto server = resolveServer(locator);
        auto* tcp = dynamic_cast<Net::TcpIp4Server*>(server.get());
        ASSERT_NE(tcp, nullptr) << locator;
        EXPECT_EQ(tcp->getLocalPort(), port) << locator;
        int client = SocketTest::connectRaw(port);  // listening from construction on
        EXPECT_GE(client, 0) << locator;
        EXPECT_TRUE(tcp->waitForConnection(5000)) << locator;
        ::close(client);
    }
    auto any = resolveServer("server:tcpip:Port=0");  // a 0 through Port is passed on
    ASSERT_NE(dynamic_cast<Net::TcpIp4Server*>(any.get()), nullptr);
    EXPECT_NE(dynamic_cast<Net::TcpIp4Server*>(any.get())->getLocalPort(), 0u);
}

TEST(ResolverSocketServerTest, TcpIpWithoutReadablePortGivesNull) {
    for (const char* locator : {"server:tcpip:0", "server:tcpip:4000,ConnectTimeout=5000", "server:tcpip:",
                                "server:TCPIP:4000", "server:tcpip:Port=x"})
        EXPECT_EQ(resolveServer(locator), nullptr) << locator;
}

TEST(ResolverSocketServerTest, DomainTakesTheWholeRestAsName) {
    PipeDirectory pipes;
    auto server = resolveServer("server:domain:a,b=c");
    auto* pipe = dynamic_cast<Net::DomainServer*>(server.get());
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(pipe->getPipeName(), "a,b=c");
    Net::DomainDevice client("a,b=c");
    client.open();
    EXPECT_TRUE(pipe->waitForConnection(5000));
}

TEST(ResolverSocketServerTest, ServerLocatorAsClientDeviceServesOneCaller) {
    PipeDirectory pipes;
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device(resolver.resolve("server:domain:gateway", nullptr, nullptr));
    ASSERT_NE(device, nullptr);
    Net::DomainDevice client("gateway");
    client.open();
    device->open();  // the caller is queued already
    client.write("hi", 2);
    ASSERT_TRUE(device->waitForData(5000));
    char buffer[4];
    EXPECT_EQ(device->readInternal(buffer, sizeof buffer), 2);
    device->write("ok", 2);
    ASSERT_TRUE(client.waitForData(5000));
    EXPECT_EQ(client.readInternal(buffer, sizeof buffer), 2);
}

}  // namespace
