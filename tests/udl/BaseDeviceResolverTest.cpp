// The resolver's simple branches: null results, serial, fastserial, files, standard streams and a device manager.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <varonet/base/CombinedDevice.h>
#include <varonet/base/FastSerialDevice.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/File.h>
#include <varonet/base/PseudoTerminal.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StandardInput.h>
#include <varonet/udl/UDLErrors.h>

#include "support/CountingDeviceManager.h"
#include "support/Files.h"
#include "support/TestCalls.h"

namespace {

using Device = std::unique_ptr<IO::Device>;
using TestSupport::codeOf;
Device resolve(const Base::String& locator) { return TestSupport::resolveAs(locator); }

}  // namespace

TEST(BaseDeviceResolver, NullResultsSayWhyAndUnknownWordsThrow9729) {
    // clang-format off
    const struct { const char *locator, *reason; } nulls[] = {
        {"none:anything", "none: names no device"}, {"serial:COM3", "no baud rate given"},
        {"serial:COM3@1234", "the baud rate 1234 is not one of the listed rates"},
        {"serial:COM3@9600baud", "the baud rate 9600baud is not one of the listed rates"},
        {"serial:COM3@9600:Parity=even", "Parity is even, not None, Odd, Even, Mark or Space"},
        {"serial:COM3:StopBits=3,BitRate=9600", "StopBits is 3, not 1, 1.5 or 2"},
        {"server:none", "server:none: names no server"}, {"server:bogus:x", "unknown server kind 'bogus'"},
        {"server:serial:Device=loopback:", "the Device of a serial server is not a serial port"},
        {"server:serial:Device=none:", "none: names no device"}};
    // clang-format on
    UDL::BaseDeviceResolver resolver;
    for (const auto& row : nulls) {
        EXPECT_EQ(Device(resolver.resolve(row.locator, nullptr, nullptr)), nullptr) << row.locator;
        EXPECT_EQ(resolver.getReason(), row.reason) << row.locator;
    }
    EXPECT_EQ(resolver.resolveServer("tcpip:x", nullptr, nullptr), nullptr);
    EXPECT_EQ(resolver.getReason(), "'tcpip:x' is not a server: locator");
    Device loopback(resolver.resolve("loopback:", nullptr, nullptr));
    EXPECT_EQ(resolver.getReason(), "") << "a device leaves no reason behind";
    for (const char* locator : {"Modem:serial\\:COM1\\@9600", "ISDNmodem:x", "Serial:COM1@9600", "bogus:x", "tcp:x@1"})
        EXPECT_EQ(codeOf([&] { resolve(locator); }), UDL::ErrBadLocator) << locator;
}

TEST(BaseDeviceResolver, SerialTargetsBaudTableAndFlowControl) {
    IO::PseudoTerminal pty;  // an existing device path is used as it stands
    const std::string path = pty.getSlavePath().str();
    using F = IO::SerialDevice;
    // clang-format off
    const struct { std::string locator; unsigned int number = 0; std::string name; F::EFlowControl flow = F::FlowNone; } rows[] = {
        {.locator = "serial:COM3@115k", .name = "COM3"}, {.locator = "serial:3:baudrate=115200", .number = 3, .name = "COM3"},
        {.locator = "serial:/x/y/COM4@115k", .name = "/x/y/COM4"},  // a path, even of no file
        {.locator = "serial:x/COM2@115k", .name = "COM2"}, {.locator = "serial:" + path + "@115k", .name = path},
        {.locator = "serial:COM1:baudrate=115k,FlowControl=Hardware", .name = "COM1", .flow = F::FlowHardware},
        {.locator = "serial:COM1@115k:FlowControl=Software", .name = "COM1", .flow = F::FlowSoftware},
        {.locator = "serial:COM1@115k:FlowControl=hardware", .name = "COM1"}};  // the value has case
    const char* words[] = {"110", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57k", "115200", "230400", "460800", "921600"};
    // clang-format on
    for (const auto& row : rows) {
        Device device = resolve(row.locator);
        auto* serial = dynamic_cast<IO::SerialDevice*>(device.get());
        ASSERT_NE(serial, nullptr) << row.locator;
        EXPECT_EQ(serial->getPortNumber(), row.number) << row.locator;
        EXPECT_EQ(serial->getName().str(), row.name) << row.locator;
        EXPECT_EQ(serial->getBaudrate(), IO::SerialDevice::Baud115200) << row.locator;
        EXPECT_EQ(serial->getFlowControl(), row.flow) << row.locator;
        EXPECT_FALSE(serial->isOpen()) << "the resolver configures; the caller opens";
    }
    for (int rate = 0; rate <= IO::SerialDevice::Baud921600; ++rate)
        EXPECT_EQ(dynamic_cast<IO::SerialDevice&>(*resolve(std::string("serial:COM1@") + words[rate])).getBaudrate(),
                  rate)
            << words[rate];
    EXPECT_EQ(dynamic_cast<IO::SerialDevice&>(*resolve("serial:COM1@57600")).getBaudrate(),
              IO::SerialDevice::Baud57600);
    // Beside the table: any bit rate (a listed one sets the baud rate too) and the character format.
    Device custom = resolve("serial:COM1:BitRate=250000,DataBits=7,Parity=Odd,StopBits=1.5,FlowControl=None");
    auto& port = dynamic_cast<IO::SerialDevice&>(*custom);
    EXPECT_EQ(port.getBitRate(), 250000u);
    EXPECT_EQ(port.getFormat(), (IO::SerialPort::Format{7, IO::SerialPort::ParityOdd, IO::SerialPort::StopOneAndHalf}));
    EXPECT_EQ(dynamic_cast<IO::SerialDevice&>(*resolve("serial:COM1:BitRate=19200")).getBaudrate(),
              IO::SerialDevice::Baud19200);
}

TEST(BaseDeviceResolver, FastSerialOpensPortTwoAndConfiguresIt) {
    IO::PseudoTerminal pty;
    IO::SerialDevice::setPortAlias("COM2", pty.getSlavePath());
    Device device = resolve("fastserial:whatever@1:x=y");
    auto* fast = dynamic_cast<IO::FastSerialDevice*>(device.get());
    ASSERT_NE(fast, nullptr);
    EXPECT_EQ(fast->getTimeout(), 2000u);
    EXPECT_EQ(fast->getFlowControl(), IO::SerialDevice::FlowHardware);
    EXPECT_FALSE(fast->getExternalClock());
    EXPECT_EQ(fast->getBaudrateDivider(), 20u);
    EXPECT_FALSE(fast->getSynchronous());
    EXPECT_TRUE(fast->getOversampling());
    fast->write(Base::String("ping"));  // open already, and port 2 is the pty
    EXPECT_EQ(TestSupport::readFor(pty, 4, 2000), "ping");
    IO::SerialDevice::setPortAlias("COM2", "/nonexistent/varonet-port");
    EXPECT_THROW(resolve("fastserial:"), Base::Exception);
    IO::SerialDevice::removePortAlias("COM2");
}

TEST(BaseDeviceResolver, FileModesOnRealFiles) {
    TestSupport::TempDir dir;
    const std::string path = dir.file("data.log");
    TestSupport::writeFile(path, "old");
    const auto opened = [&](const std::string& mode) {
        Device device = resolve("file:" + path + mode);
        device->open();
        return device;
    };
    Device ro = opened("@ro");
    char buffer[8];
    EXPECT_EQ(ro->read(buffer, 8), 3);
    EXPECT_THROW(ro->write(Base::String("x")), Base::Exception);
    EXPECT_EQ(dynamic_cast<IO::File&>(*resolve("file:" + path + "@")).getMode(), IO::File::ReadOnly);
    opened("@ap")->write(Base::String("+ap"));
    EXPECT_EQ(TestSupport::readFile(path), "old+ap");
    opened("@tr")->write(Base::String("new"));
    EXPECT_EQ(TestSupport::readFile(path), "new");
    opened("@rw")->write(Base::String("N"));
    EXPECT_EQ(TestSupport::readFile(path), "New");
    for (const char* bad : {"@xx", "@RO", "@rw ", "", ":mode=ro"})
        EXPECT_EQ(codeOf([&] { resolve("file:" + path + bad); }), UDL::ErrBadLocator) << bad;
    Device missing = resolve("file:" + dir.file("missing") + "@ro");
    EXPECT_EQ(codeOf([&] { missing->open(); }), unsigned(ENOENT)) << "the system's error, on open";
}

TEST(BaseDeviceResolver, StandardStreams) {
    Device stdio = resolve("stdio:anything");
    auto* combined = dynamic_cast<IO::CombinedDevice*>(stdio.get());
    ASSERT_NE(combined, nullptr);
    EXPECT_EQ(combined->getInput(), IO::StandardInput::getInstance());
    EXPECT_EQ(combined->getOutput(), IO::StandardOutput::getInstance());
}

TEST(BaseDeviceResolver, ManagerReceivesEveryDeviceAndLocksSerialPortsWhileConfiguring) {
    TestSupport::CountingDeviceManager manager;
    UDL::BaseDeviceResolver resolver;
    IO::Device* serial = resolver.resolve("serial:COM1@19200:FlowControl=Hardware", nullptr, &manager);
    EXPECT_EQ(manager.managed, std::vector<IO::Device*>{serial});
    EXPECT_EQ(manager.trylockCalls, 1);
    EXPECT_EQ(manager.lastTrylockMs, 3000u);
    EXPECT_EQ(manager.unlockCalls, 1);
    EXPECT_EQ(dynamic_cast<IO::SerialDevice*>(serial)->getBaudrate(), IO::SerialDevice::Baud19200);
    IO::Device* loopback = resolver.resolve("loopback:ignored:rest=1", nullptr, &manager);
    ASSERT_NE(dynamic_cast<Base::FifoDevice*>(loopback), nullptr);
    EXPECT_EQ(manager.managed.at(1), loopback);
    loopback->write(Base::String("round trip"));
    EXPECT_EQ(TestSupport::readFor(*loopback, 10, 1000), "round trip") << "a FIFO that waits without end";
    EXPECT_EQ(manager.trylockCalls, 1) << "only serial ports are locked while configured";
    EXPECT_EQ(resolver.resolve("serial:COM1", nullptr, &manager), nullptr);
    EXPECT_EQ(manager.manageDeviceCalls, 2) << "nothing is built without a baud rate";

    // A port another user keeps makes 5962, after the resolver waited its 3 s for it.
    struct BusyManager : TestSupport::CountingDeviceManager {
        bool trylockDevice(IO::Device*, unsigned int ms) override { return lastTrylockMs = ms, false; }
    } busy;
    EXPECT_EQ(codeOf([&] { resolver.resolve("serial:COM5@2400", nullptr, &busy); }), UDL::ErrPortLockTimeout);
    EXPECT_EQ(busy.managed.size(), 1u) << "the port stays with the manager";
    EXPECT_EQ(busy.lastTrylockMs, 3000u);
    EXPECT_EQ(busy.unlockCalls, 0);
}
