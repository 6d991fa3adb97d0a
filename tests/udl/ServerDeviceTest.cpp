#include <varonet/udl/ServerDevice.h>

#include <gtest/gtest.h>

#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/VirtualSerialPair.h>
#include "support/CountingDeviceManager.h"
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/SerialServer.h>
#include <varonet/udl/UDLErrors.h>

namespace {

class ServerDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        IO::VirtualSerialPair::create("VSRV", "VSRV-far");
        mFar.open();
    }
    void TearDown() override { IO::VirtualSerialPair::remove("VSRV"); }

    UDL::BaseDeviceResolver mResolver;
    IO::SerialDevice mFar{"VSRV-far", IO::SerialDevice::Baud9600};
};

TEST_F(ServerDeviceTest, ServerLocatorsThatNameNoServer) {
    for (const char* locator : {"server:none", "serial:COM1@9600", "Server:serial:Device=x", "server:TCPIP:4000",
                                "server:analogmodem:Device=x", "server:serial:Device=loopback\\:",
                                "server:serial:Device=none\\:", "server:serial:Device=serial\\:COM1"}) {
        SCOPED_TRACE(locator);
        EXPECT_EQ(mResolver.resolveServer(locator, nullptr, nullptr), nullptr);
    }
    EXPECT_EQ(mResolver.resolve("server:none", nullptr, nullptr), nullptr);
}

TEST_F(ServerDeviceTest, WaitsForTheFirstBytesOfASerialCaller) {
    std::unique_ptr<IO::Device> device(
        mResolver.resolve("server:serial:Device=serial\\:VSRV\\@9600,ConnectTimeout=300", nullptr, nullptr));
    auto* server = dynamic_cast<IO::ServerDevice*>(device.get());
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->getConnectTimeout(), 300u);
    EXPECT_EQ(device->getName().str(), "Unknown ServerDevice");
    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(device->getTimeout(), 0u);
    char buffer[16];
    try {
        device->read(buffer, 1);
        FAIL() << "read without a caller";
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), UDL::ErrNotConnected);
    }
    EXPECT_THROW(device->write(Base::String("x")), Base::Exception);

    OS::StopWatch watch;
    EXPECT_THROW(device->open(), Base::TimeoutException);  // a silent line
    EXPECT_GE(watch.getElapsed(), 300u);

    mFar.write(Base::String("hello"));
    device->open();
    EXPECT_TRUE(device->isOpen());
    EXPECT_EQ(device->getName().str(), "VSRV");
    long n = device->read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "hello");
    device->write(Base::String("welcome"));
    char echo[16];
    ASSERT_TRUE(mFar.waitForData(2000));
    EXPECT_EQ(std::string(echo, static_cast<std::size_t>(mFar.read(echo, sizeof echo))), "welcome");

    device->close();  // the port was the one connection: the server is empty now
    EXPECT_FALSE(device->isOpen());
    EXPECT_THROW(device->open(), Base::TimeoutException);
}

TEST_F(ServerDeviceTest, SerialServerWaitsInSteps) {
    auto* port = new IO::SerialDevice("VSRV", IO::SerialDevice::Baud9600);
    Net::SerialServer server(port);
    OS::StopWatch watch;
    EXPECT_FALSE(server.waitForConnection(0));
    EXPECT_TRUE(port->isOpen());  // opened even when not waiting
    EXPECT_LT(watch.getElapsed(), 100u);
    watch.start();
    EXPECT_FALSE(server.waitForConnection(400));
    EXPECT_GE(watch.getElapsed(), 400u);
    mFar.write(Base::String("x"));
    watch.start();
    EXPECT_TRUE(server.waitForConnection(5000));
    EXPECT_LT(watch.getElapsed(), 1000u);
    std::unique_ptr<IO::Device> accepted(server.accept());
    EXPECT_EQ(accepted.get(), port);
    EXPECT_TRUE(accepted->isLocked());  // handed out still locked
    accepted->unlock();
    EXPECT_FALSE(server.waitForConnection(0));
    try {
        server.acceptInternal();
        FAIL() << "accepted twice";
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), UDL::ErrNoSerialPort);
    }
}

TEST_F(ServerDeviceTest, ManagedServerDeviceGivesItsServerBack) {
    TestSupport::CountingDeviceManager manager;
    IO::Device* device = mResolver.resolve("server:serial:Device=serial\\:VSRV\\@9600", nullptr, &manager);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(manager.manageServerCalls, 1);
    ASSERT_EQ(manager.managed.size(), 2u);  // the port first, then the server device
    EXPECT_EQ(manager.managed[1], device);
    EXPECT_EQ(manager.servers.size(), 1u);
    // Deleting the device hands the server back to the manager instead of deleting it.
    manager.managed.pop_back();
    delete device;
    EXPECT_EQ(manager.servers.size(), 0u);
}

}  // namespace
