#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <string>

#include <varonet/base/CombinedDevice.h>
#include <varonet/base/Exception.h>
#include <varonet/base/FastSerialDevice.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/File.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StandardInput.h>
#include "support/CountingDeviceManager.h"
#include "support/PtyPair.h"
#include "support/Files.h"
#include <varonet/udl/UDLErrors.h>

namespace {

using Device = std::unique_ptr<IO::Device>;

Device resolve(const Base::String& locator, IO::DeviceManager* manager = nullptr) {
    UDL::BaseDeviceResolver resolver;
    return Device(resolver.resolve(locator, nullptr, manager));
}

unsigned int errorOf(const Base::String& locator) {
    try {
        resolve(locator);
    } catch (const Base::Exception& e) {
        return e.getErrorCode();
    }
    return 0;
}

std::string messageOf(const Base::String& locator) {
    try {
        resolve(locator);
    } catch (const Base::Exception& e) {
        return e.what();
    }
    return "";
}

TEST(BaseDeviceResolver, NoneGivesNullAndUnknownWordsThrow9729) {
    EXPECT_EQ(resolve("none:anything"), nullptr);
    EXPECT_EQ(resolve("none:"), nullptr);
    for (const char* locator : {"Modem:serial\\:COM1\\@9600", "Serial:COM1@9600", "bogus:x", "nonex:", "tcp:x@1"}) {
        SCOPED_TRACE(locator);
        EXPECT_EQ(errorOf(locator), UDL::ErrBadLocator);
    }
}

TEST(BaseDeviceResolver, CapiWordMatchesInAnyCase) {
    // All spellings reach the CAPI branch rather than the unknown-word failure.
    for (const char* locator : {"capi::Number=1", "CAPI::Number=1", "CaPi::Number=1"}) {
        SCOPED_TRACE(locator);
        EXPECT_EQ(messageOf(locator).find("unknown protocol word"), std::string::npos);
    }
}

struct SerialRow {
    const char* locator;
    bool built;
    unsigned int portNumber;
    const char* portName;
    IO::SerialDevice::EBaudRate baudrate;
};

TEST(BaseDeviceResolver, SerialTargetsAndBaudTable) {
    const SerialRow rows[] = {
        {"serial:COM3", false, 0, "", IO::SerialDevice::Baud9600},
        {"serial:COM3@1234", false, 0, "", IO::SerialDevice::Baud9600},
        {"serial:COM3@9600baud", false, 0, "", IO::SerialDevice::Baud9600},
        {"serial:COM3@115k", true, 0, "COM3", IO::SerialDevice::Baud115200},
        {"serial:3:baudrate=57600", true, 3, "COM3", IO::SerialDevice::Baud57600},
        {"serial:/x/y/COM4@9600", true, 0, "COM4", IO::SerialDevice::Baud9600},
        {"serial:ttyUSB0@57k", true, 0, "ttyUSB0", IO::SerialDevice::Baud57600},
        {"serial:COM1@110", true, 0, "COM1", IO::SerialDevice::Baud110},
        {"serial:COM1@300", true, 0, "COM1", IO::SerialDevice::Baud300},
        {"serial:COM1@1200", true, 0, "COM1", IO::SerialDevice::Baud1200},
        {"serial:COM1@2400", true, 0, "COM1", IO::SerialDevice::Baud2400},
        {"serial:COM1@4800", true, 0, "COM1", IO::SerialDevice::Baud4800},
        {"serial:COM1@19200", true, 0, "COM1", IO::SerialDevice::Baud19200},
        {"serial:COM1@38400", true, 0, "COM1", IO::SerialDevice::Baud38400},
        {"serial:COM1@115200", true, 0, "COM1", IO::SerialDevice::Baud115200},
        {"serial:COM1@230400", true, 0, "COM1", IO::SerialDevice::Baud230400},
        {"serial:COM1@460800", true, 0, "COM1", IO::SerialDevice::Baud460800},
        {"serial:COM1@921600", true, 0, "COM1", IO::SerialDevice::Baud921600},
    };
    for (const SerialRow& row : rows) {
        SCOPED_TRACE(row.locator);
        Device device = resolve(row.locator);
        ASSERT_EQ(device != nullptr, row.built);
        if (!row.built) continue;
        auto* serial = dynamic_cast<IO::SerialDevice*>(device.get());
        ASSERT_NE(serial, nullptr);
        EXPECT_EQ(dynamic_cast<IO::FastSerialDevice*>(device.get()), nullptr);
        EXPECT_EQ(serial->getPortNumber(), row.portNumber);
        EXPECT_EQ(serial->getName().str(), row.portName);
        EXPECT_EQ(serial->getBaudrate(), row.baudrate);
        EXPECT_FALSE(serial->isOpen());  // the resolver configures; the caller opens
    }
}

TEST(BaseDeviceResolver, FlowControlValueIsCaseSensitive) {
    auto flowOf = [](const char* locator) {
        Device device = resolve(locator);
        return dynamic_cast<IO::SerialDevice&>(*device).getFlowControl();
    };
    EXPECT_EQ(flowOf("serial:COM1:baudrate=9600,FlowControl=Hardware"), IO::SerialDevice::FlowHardware);
    EXPECT_EQ(flowOf("serial:COM1@9600:FlowControl=Software"), IO::SerialDevice::FlowSoftware);
    EXPECT_EQ(flowOf("serial:COM1:baudrate=9600,FlowControl=hardware"), IO::SerialDevice::FlowNone);
    EXPECT_EQ(flowOf("serial:COM1@9600"), IO::SerialDevice::FlowNone);
}

TEST(BaseDeviceResolver, FastSerialOpensPortTwoAndConfiguresIt) {
    TestSupport::PtyPair pty;
    IO::SerialDevice::setPortAlias("COM2", pty.slavePath());
    Device device = resolve("fastserial:whatever@1:x=y");
    IO::SerialDevice::removePortAlias("COM2");
    auto* fast = dynamic_cast<IO::FastSerialDevice*>(device.get());
    ASSERT_NE(fast, nullptr);
    EXPECT_TRUE(fast->isOpen());
    EXPECT_EQ(fast->getPortNumber(), 2u);
    EXPECT_EQ(fast->getTimeout(), 2000u);
    EXPECT_EQ(fast->getFlowControl(), IO::SerialDevice::FlowHardware);
    EXPECT_FALSE(fast->getExternalClock());
    EXPECT_EQ(fast->getBaudrateDivider(), 20u);
    EXPECT_FALSE(fast->getSynchronous());
    EXPECT_TRUE(fast->getOversampling());
    fast->write(Base::String("ping"));
    EXPECT_EQ(pty.read(4, 2000), "ping");
}

TEST(BaseDeviceResolver, FastSerialWithoutPortFailsWithoutLeaking) {
    IO::SerialDevice::setPortAlias("COM2", "/nonexistent/varonet-port");
    EXPECT_THROW(resolve("fastserial:"), Base::Exception);
    IO::SerialDevice::removePortAlias("COM2");
}

TEST(BaseDeviceResolver, FileModesOnRealFiles) {
    TestSupport::TempDir dir;
    const std::string path = dir.file("data.log");
    TestSupport::writeFile(path, "old");

    auto openFile = [&](const std::string& suffix) {
        Device device = resolve("file:" + path + suffix);
        auto* file = dynamic_cast<IO::File*>(device.get());
        EXPECT_NE(file, nullptr);
        file->open();
        return device;
    };
    {
        Device ro = openFile("@ro");
        EXPECT_EQ(dynamic_cast<IO::File&>(*ro).getMode(), IO::File::ReadOnly);
        char buffer[8];
        EXPECT_EQ(ro->read(buffer, 8), 3);
        EXPECT_THROW(ro->write(Base::String("x")), Base::Exception);
    }
    EXPECT_EQ(dynamic_cast<IO::File&>(*resolve("file:" + path + "@")).getMode(), IO::File::ReadOnly);
    openFile("@ap")->write(Base::String("+ap"));
    EXPECT_EQ(TestSupport::readFile(path), "old+ap");
    openFile("@tr")->write(Base::String("new"));
    EXPECT_EQ(TestSupport::readFile(path), "new");
    {
        Device rw = openFile("@rw");
        EXPECT_EQ(dynamic_cast<IO::File&>(*rw).getMode(), IO::File::ReadWrite);
        rw->write(Base::String("N"));
        EXPECT_EQ(TestSupport::readFile(path), "New");
    }
    for (const char* bad : {"@xx", "@RO", "@rw ", "", ":mode=ro"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(errorOf("file:" + path + bad), UDL::ErrBadLocator);
    }
    // A read-only file that does not exist fails on open, with the system's error.
    Device missing = resolve("file:" + dir.file("missing") + "@ro");
    try {
        missing->open();
        FAIL() << "opened a missing file";
    } catch (const Base::Exception& e) {
        EXPECT_TRUE(e.isSystemError());
    }
}

TEST(BaseDeviceResolver, LoopbackReadsBackWhatIsWritten) {
    Device device = resolve("loopback:");
    ASSERT_NE(dynamic_cast<Base::FifoDevice*>(device.get()), nullptr);
    EXPECT_EQ(device->getTimeout(), 0x7FFFFFFFu);
    device->open();
    device->write(Base::String("round trip"));
    char buffer[32];
    long n = device->read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "round trip");
    EXPECT_NE(resolve("loopback:ignored:rest=1"), nullptr);
}

TEST(BaseDeviceResolver, StdioCombinesTheStandardStreams) {
    Device device = resolve("stdio:anything");
    auto* combined = dynamic_cast<IO::CombinedDevice*>(device.get());
    ASSERT_NE(combined, nullptr);
    EXPECT_EQ(combined->getInput(), IO::StandardInput::getInstance());
    EXPECT_EQ(combined->getOutput(), IO::StandardOutput::getInstance());
}

TEST(BaseDeviceResolver, ManagerReceivesEveryDeviceAndLocksSerialPorts) {
    TestSupport::CountingDeviceManager manager;
    UDL::BaseDeviceResolver resolver;
    IO::Device* serial = resolver.resolve("serial:COM1@19200:FlowControl=Hardware", nullptr, &manager);
    ASSERT_EQ(manager.managed.size(), 1u);
    EXPECT_EQ(manager.managed[0], serial);
    EXPECT_EQ(serial->getDeviceManager(), &manager);
    EXPECT_EQ(manager.trylockCalls, 1);
    EXPECT_EQ(manager.lastTrylockMs, 3000u);
    EXPECT_EQ(manager.unlockCalls, 1);
    EXPECT_FALSE(serial->isLocked());
    EXPECT_EQ(dynamic_cast<IO::SerialDevice*>(serial)->getBaudrate(), IO::SerialDevice::Baud19200);

    IO::Device* fifo = resolver.resolve("loopback:", nullptr, &manager);
    EXPECT_EQ(manager.managed.size(), 2u);
    EXPECT_EQ(manager.managed[1], fifo);
    EXPECT_EQ(manager.trylockCalls, 1);  // only serial ports are locked while configured
    EXPECT_EQ(resolver.resolve("serial:COM1", nullptr, &manager), nullptr);
    EXPECT_EQ(manager.manageDeviceCalls, 2);  // nothing is built without a baud rate
}

// A manager whose ports are always in use by someone else.
class BusyManager : public TestSupport::CountingDeviceManager {
public:
    bool trylockDevice(IO::Device* device, unsigned int ms) override {
        CountingDeviceManager::trylockDevice(device, 0);
        lastTrylockMs = ms;
        return false;
    }
};

TEST(BaseDeviceResolver, ManagedPortThatStaysLockedThrows5962AndStaysWithTheManager) {
    BusyManager manager;
    UDL::BaseDeviceResolver resolver;
    try {
        resolver.resolve("serial:COM1@9600", nullptr, &manager);
        FAIL() << "no exception";
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), UDL::ErrPortLockTimeout);
    }
    EXPECT_EQ(manager.lastTrylockMs, 3000u);
    ASSERT_EQ(manager.managed.size(), 1u);  // deleted by the manager, not by the resolver
    EXPECT_EQ(manager.unlockCalls, 0);
}

TEST(BaseDeviceResolver, ManagedLockWaitsForAnotherHolder) {
    // Another user holds the manager's lock on the port for a moment; the resolver waits for it.
    class HeldManager : public TestSupport::CountingDeviceManager {
    public:
        IO::Device* manageDevice(IO::Device* device) override {
            IO::Device* kept = CountingDeviceManager::manageDevice(device);
            holder = std::thread([this, kept] {
                lockOf(kept).lock();
                held.store(true);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                lockOf(kept).unlock();
            });
            while (!held.load()) std::this_thread::yield();
            return kept;
        }
        ~HeldManager() override {
            if (holder.joinable()) holder.join();
        }
        std::thread holder;
        std::atomic<bool> held{false};
    } manager;
    UDL::BaseDeviceResolver resolver;
    IO::Device* port = resolver.resolve("serial:COM5@2400", nullptr, &manager);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(dynamic_cast<IO::SerialDevice*>(port)->getBaudrate(), IO::SerialDevice::Baud2400);
    EXPECT_FALSE(port->isLocked());
}

// Hostile locators give an exception or a null result, never a crash.
TEST(BaseDeviceResolver, HostileLocators) {
    std::string longText(10000, 'a');
    std::string escapes(10000, '\\');
    std::string colons(10000, ':');
    std::string withNul = std::string("serial:CO\0M1@9600", 17);
    std::string fileNul = std::string("file:/tmp/x\0y@ro", 16);
    const std::string locators[] = {
        "", ":", "::", "\\", "\\\\\\:", "@", "@:", ":@", longText, escapes, colons,
        "serial:" + longText + "@9600", "file:" + longText + "@ro", "modem:" + escapes, "serial:" + colons,
        "loopback:" + longText, withNul, fileNul, "serial:@@@@", "serial:\\@:\\:=,,,=",
    };
    for (const std::string& locator : locators) {
        SCOPED_TRACE(locator.substr(0, 40));
        try {
            Device device = resolve(Base::String(locator.data(), locator.size()));
            if (device) {
                try {
                    device->open();
                } catch (const Base::Exception&) {
                }
            }
        } catch (const Base::Exception&) {
        }
    }
}

}  // namespace

namespace {

// Standard input swapped for a pipe for the length of a test.
class StdinFromPipe {
public:
    StdinFromPipe() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        miSaved = ::dup(STDIN_FILENO);
        ::dup2(fds[0], STDIN_FILENO);
        ::close(fds[0]);
        miWriter = fds[1];
    }
    ~StdinFromPipe() {
        if (miWriter >= 0) ::close(miWriter);
        ::dup2(miSaved, STDIN_FILENO);
        ::close(miSaved);
    }
    void write(const std::string& text) { EXPECT_EQ(::write(miWriter, text.data(), text.size()), ssize_t(text.size())); }
    void closeWriter() {
        ::close(miWriter);
        miWriter = -1;
    }

private:
    int miSaved = -1;
    int miWriter = -1;
};

TEST(BaseDeviceResolver, StdioReadsStandardInput) {
    StdinFromPipe input;
    Device device = resolve("stdio:");
    device->open();
    EXPECT_FALSE(device->waitForData(0));
    input.write("typed line\n");
    ASSERT_TRUE(device->waitForData(2000));
    EXPECT_EQ(device->size(), 11);
    char buffer[32];
    long n = device->read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "typed line\n");
    input.closeWriter();
    EXPECT_EQ(device->read(buffer, sizeof buffer), 0);
    EXPECT_TRUE(device->isEOF());
}

}  // namespace
