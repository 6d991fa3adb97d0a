// Server devices: a serial caller, a managed server given back, and wake-ups while waiting for a caller.
#include <varonet/udl/ServerDevice.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include <varonet/base/SerialDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/modem/AnalogModemServer.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include <varonet/sim/VirtualSerialPair.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/SerialServer.h>
#include <varonet/udl/UDLErrors.h>
#include "support/CountingDeviceManager.h"
#include "support/Loopback.h"
#include "support/ModemTestKit.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;
using TestSupport::readFor;

class ServerDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        Sim::VirtualSerialPair::create("VSRV", "VSRV-far");
        mFar.open();
    }
    void TearDown() override { Sim::VirtualSerialPair::remove("VSRV"); }

    UDL::BaseDeviceResolver mResolver;
    IO::SerialDevice mFar{"VSRV-far", IO::SerialDevice::Baud9600};
};

TEST_F(ServerDeviceTest, SerialCallerIsTheFirstBytesOnTheLineAndComesOnce) {
    std::unique_ptr<IO::Device> device(
        mResolver.resolve("server:serial:Device=serial\\:VSRV\\@9600,ConnectTimeout=300", nullptr, nullptr));
    auto* server = dynamic_cast<IO::ServerDevice*>(device.get());
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(device->getName(), "Unknown ServerDevice");
    EXPECT_EQ(device->getTimeout(), 0u);  // no connection yet
    EXPECT_EQ(codeOf([&] { device->readInternal(nullptr, 1); }), UDL::ErrNotConnected);
    OS::StopWatch watch;
    EXPECT_THROW(device->open(), Base::TimeoutException);  // a silent line
    EXPECT_GE(watch.getElapsed(), 300u);
    mFar.write(Base::String("hello"));
    device->open();
    EXPECT_EQ(device->getName(), "VSRV");
    EXPECT_TRUE(server->getConnection()->isLocked());  // the port is handed out locked
    EXPECT_TRUE(device->trylock());
    EXPECT_TRUE(server->getServer()->isLocked()) << "the device's lock is the server's";
    device->unlock();
    EXPECT_EQ(readFor(*device, 5, 5000), "hello");
    device->write(Base::String("welcome"));
    EXPECT_EQ(readFor(mFar, 7, 5000), "welcome");
    device->close();  // the port was the one connection: the server is empty now
    EXPECT_FALSE(device->isOpen());
    EXPECT_THROW(device->open(), Base::TimeoutException);
    EXPECT_EQ(codeOf([&] { delete server->getServer()->accept(); }), UDL::ErrNoSerialPort);
}

TEST_F(ServerDeviceTest, ManagedServerDeviceGivesItsServerBack) {
    TestSupport::CountingDeviceManager manager;
    IO::Device* device = mResolver.resolve("server:serial:Device=serial\\:VSRV\\@9600", nullptr, &manager);
    ASSERT_EQ(manager.managed.size(), 2u);  // the port first, then the server device
    EXPECT_EQ(manager.managed[1], device);
    EXPECT_EQ(manager.servers.size(), 1u);
    manager.managed.pop_back();
    delete device;
    EXPECT_EQ(manager.servers.size(), 0u);
}

// After a caller has gone, a wake-up reaches the server the next open waits
// on, not only the closed connection; the next caller is served as usual.
TEST_F(ServerDeviceTest, WakeUpAfterTheCallerLeftEndsTheWaitForTheNext) {
    auto* server = new Net::TcpIp4Server(0);
    IO::ServerDevice device(server, 0);
    int first = TestSupport::connectRaw(server->getLocalPort());
    device.open();
    ::close(first);
    char c;
    EXPECT_EQ(device.readInternal(&c, 1), 0);
    EXPECT_EQ(TestSupport::codeWhenWoken([&] { device.open(); }, [&] { device.wakeUp(); }), unsigned(EINTR));
    int second = TestSupport::connectRaw(server->getLocalPort());
    device.open();
    EXPECT_EQ(::write(second, "2", 1), 1);
    EXPECT_EQ(readFor(device, 1, 5000), "2");
    ::close(second);
}

// A server blocked on another thread is woken, on a serial line and a modem line alike: a wait for a
// caller ends false and an accept with EINTR, leaving the line unlocked (as an accept whose open fails
// does); the next caller is served.
TEST_F(ServerDeviceTest, WakeUpEndsTheWaitAndTheAcceptOfSerialAndModemServers) {
    auto* port = new IO::SerialDevice("VSRV", IO::SerialDevice::Baud9600);
    Net::SerialServer serial(port);
    TestSupport::SimulatedLine line;
    Net::AnalogModemServer answering(new Net::AnalogModem(new Net::StatefulDevice(line.makePort().release()), nullptr));
    for (IO::DeviceServer* server : std::initializer_list<IO::DeviceServer*>{&serial, &answering}) {
        OS::StopWatch watch;
        auto waited = TestSupport::startBlocked([server] { return long(server->waitForConnection(60000)); });
        server->wakeUp();
        EXPECT_EQ(waited.get(), 0);
        auto accepted = TestSupport::startBlocked([server] { return long(codeOf([server] { server->accept(); })); });
        server->wakeUp();
        EXPECT_EQ(accepted.get(), long(EINTR));
        EXPECT_LT(watch.getElapsed(), 2000u);
    }
    EXPECT_FALSE(port->isLocked());
    mFar.write(Base::String("x"));
    EXPECT_EQ(std::unique_ptr<IO::Device>(serial.accept()).get(), port);
    auto* missing = new IO::SerialDevice("varonet-no-such-port", IO::SerialDevice::Baud9600);
    Net::SerialServer broken(missing);
    EXPECT_EQ(codeOf([&] { broken.accept(); }), unsigned(ENOENT));
    EXPECT_FALSE(missing->isLocked());
}

}  // namespace
