#include <varonet/base/SerialDevice.h>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <chrono>
#include <string>
#include <thread>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/VirtualSerialPair.h>
#include "support/PtyPair.h"
#include <varonet/udl/BaseDeviceResolver.h>

namespace {

using TestSupport::readFor;

std::unique_ptr<IO::SerialDevice> resolveSerial(const Base::String& locator) {
    UDL::BaseDeviceResolver resolver;
    auto* device = dynamic_cast<IO::SerialDevice*>(resolver.resolve(locator, nullptr, nullptr));
    EXPECT_NE(device, nullptr) << locator.str();
    return std::unique_ptr<IO::SerialDevice>(device);
}

TEST(SerialDevice, PortNamesMapToDevicePaths) {
    EXPECT_EQ(IO::SerialDevice::mapPortName("COM1").str(), "/dev/ttyS0");
    EXPECT_EQ(IO::SerialDevice::mapPortName("com12").str(), "/dev/ttyS11");
    EXPECT_EQ(IO::SerialDevice::mapPortName("ttyUSB0").str(), "/dev/ttyUSB0");
    EXPECT_EQ(IO::SerialDevice(4, IO::SerialDevice::Baud9600).getPath().str(), "/dev/ttyS3");
    IO::SerialDevice::setPortAlias("COM1", "/tmp/somewhere");
    EXPECT_EQ(IO::SerialDevice::mapPortName("COM1").str(), "/tmp/somewhere");
    EXPECT_EQ(IO::SerialDevice(1, IO::SerialDevice::Baud9600).getPath().str(), "/tmp/somewhere");
    IO::SerialDevice::removePortAlias("COM1");
    IO::SerialDevice::setPortAlias("7", "/tmp/seven");
    EXPECT_EQ(IO::SerialDevice(7, IO::SerialDevice::Baud9600).getPath().str(), "/tmp/seven");
    IO::SerialDevice::removePortAlias("7");
}

TEST(SerialDevice, PtyCarriesBytesBothWaysAtTwoBaudRates) {
    TestSupport::PtyPair pty;
    IO::SerialDevice::setPortAlias("PTYTEST", pty.slavePath());
    for (const char* locator : {"serial:PTYTEST@9600", "serial:PTYTEST:baudrate=115200,FlowControl=Software"}) {
        SCOPED_TRACE(locator);
        auto port = resolveSerial(locator);
        port->open();
        EXPECT_FALSE(port->hasModemLines());  // a pty has none
        EXPECT_FALSE(port->readDCD());
        port->toggleDTR(false);  // ignored, not an error

        std::string outbound;
        for (int i = 0; i < 3000; ++i) outbound.push_back(static_cast<char>(i % 251));
        port->write(outbound.data(), static_cast<long>(outbound.size()));
        EXPECT_EQ(pty.read(outbound.size(), 3000), outbound);

        std::string inbound = "answer from the far side\r\n";
        pty.write(inbound);
        EXPECT_EQ(readFor(*port, inbound.size(), 3000), inbound);
        EXPECT_FALSE(port->waitForData(0));
        port->close();
        EXPECT_FALSE(port->isOpen());
    }
    IO::SerialDevice::removePortAlias("PTYTEST");
}

TEST(SerialDevice, ReadTimeOutAndNonBlockingRead) {
    TestSupport::PtyPair pty;
    IO::SerialDevice::setPortAlias("PTYTIME", pty.slavePath());
    IO::SerialDevice port("PTYTIME", IO::SerialDevice::Baud9600);
    port.open();
    port.setTimeout(60);
    pty.write("ab");
    char buffer[8];
    OS::StopWatch watch;
    EXPECT_EQ(port.read(buffer, 8), 2);  // short count: the time-out was reached
    EXPECT_GE(watch.getElapsed(), 50u);
    port.setBlocking(false);
    EXPECT_THROW(port.readInternal(buffer, 8), IO::WouldBlockException);
    EXPECT_TRUE(port.isOpen());
    IO::SerialDevice::removePortAlias("PTYTIME");
}

TEST(SerialDevice, MissingPortFailsWithTheSystemError) {
    IO::SerialDevice port("/nonexistent/ttyX", IO::SerialDevice::Baud9600);
    try {
        port.open();
        FAIL() << "opened";
    } catch (const Base::Exception& e) {
        EXPECT_TRUE(e.isSystemError());
    }
    EXPECT_FALSE(port.isOpen());
    EXPECT_THROW(port.size(), IO::Exception);
}

TEST(VirtualSerialPair, WiredLikeANullModemCable) {
    IO::VirtualSerialPair::create("VNULL1", "VNULL2");
    auto a = resolveSerial("serial:VNULL1@115k");
    auto b = resolveSerial("serial:VNULL2@115k:FlowControl=Hardware");
    a->open();
    EXPECT_FALSE(a->readDCD());  // nobody at the other end yet
    b->open();
    EXPECT_TRUE(a->hasModemLines());
    EXPECT_TRUE(a->readDCD());
    EXPECT_TRUE(a->readDSR());
    EXPECT_TRUE(a->readCTS());

    b->toggleDTR(false);
    EXPECT_FALSE(a->readDCD());
    EXPECT_FALSE(a->readDSR());
    EXPECT_TRUE(a->readCTS());
    b->setRTS(false);
    EXPECT_FALSE(a->readCTS());
    b->toggleDTR(true);
    EXPECT_TRUE(a->readDCD());

    a->write(Base::String("ATZ\r"));
    EXPECT_EQ(readFor(*b, 4, 2000), "ATZ\r");
    b->write(Base::String("OK\r\n"));
    EXPECT_EQ(readFor(*a, 4, 2000), "OK\r\n");

    b->close();  // closing drops DTR: the other end loses its carrier
    EXPECT_FALSE(a->readDCD());
    a->write(Base::String("lost"));  // nobody listens: dropped
    b->open();
    EXPECT_FALSE(b->waitForData(0));

    IO::SerialDevice second("VNULL1", IO::SerialDevice::Baud9600);
    try {
        second.open();
        FAIL() << "opened twice";
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), Base::ErrPortInUse);
    }
    IO::VirtualSerialPair::remove("VNULL1");
    EXPECT_FALSE(IO::VirtualSerialPair::exists("VNULL2"));
}

TEST(VirtualSerialPair, BlockingReadWakesOnArrival) {
    IO::VirtualSerialPair::create("VWAKE1", "VWAKE2");
    IO::SerialDevice a("VWAKE1", IO::SerialDevice::Baud9600), b("VWAKE2", IO::SerialDevice::Baud9600);
    a.open();
    b.open();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.write(Base::String("late"));
    });
    char buffer[8];
    long n = a.readInternal(buffer, 8);  // blocks until the bytes come
    writer.join();
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "late");
    IO::VirtualSerialPair::remove("VWAKE1");
}

}  // namespace
