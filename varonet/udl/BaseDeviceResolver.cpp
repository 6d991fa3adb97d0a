// The resolver's frame and its simple branches: none, serial, fastserial, loopback, file and stdio.
#include <varonet/udl/BaseDeviceResolver.h>

#include <varonet/base/CombinedDevice.h>
#include <varonet/base/Errors.h>
#include <varonet/base/FastSerialDevice.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/File.h>
#include <varonet/base/IOException.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StandardInput.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/UDLParser.h>
#include <varonet/udl/detail/SerialOptions.h>

namespace UDL {

namespace {
// How long a managed serial port may stay locked by others while the resolver configures it.
constexpr unsigned int kManagedLockMs = 3000;
// The read time-out of the fast serial adapter.
constexpr unsigned int kFastSerialTimeoutMs = 2000;
// The loopback FIFO waits this long (practically for ever) for its first byte.
constexpr unsigned int kLoopbackTimeoutMs = 0x7FFFFFFF;

bool startsWith(const Base::String& text, const char* word) { return text.startsWith(word); }

// Releases a managed device's lock when the configuration step ends, however it ends.
class ManagedLock {
public:
    explicit ManagedLock(IO::Device* device) : mpDevice(device) {}
    ~ManagedLock() {
        if (mpDevice) mpDevice->unlock();
    }
    ManagedLock(const ManagedLock&) = delete;
    ManagedLock& operator=(const ManagedLock&) = delete;

private:
    IO::Device* mpDevice;
};
}  // namespace

void BaseDeviceResolver::throwWrongKind(int line) {
    throw Base::Exception(ErrBadLocator, ".", line, "the device manager returned another kind of device");
}

IO::Device* BaseDeviceResolver::handOver(std::unique_ptr<IO::Device>& device, IO::DeviceManager* manager) {
    if (manager) return manager->manageDevice(device.release());
    device->initialize();
    return device.get();
}

void BaseDeviceResolver::setReason(const Base::String& reason) { msReason = reason; }

IO::Device* BaseDeviceResolver::resolve(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager) {
    msReason = "";
    IO::Device* device = resolveBranch(locator, logger, manager);
    if (device) msReason = "";
    else if (msReason.isEmpty()) msReason = "'" + locator + "' names no device";
    return device;
}

IO::Device* BaseDeviceResolver::resolveBranch(const Base::String& locator, Log::Logger* logger,
                                              IO::DeviceManager* manager) {
    if (startsWith(locator, "none:")) {
        setReason("none: names no device");
        return nullptr;
    }
    if (startsWith(locator, "modem:")) return resolveModem(locator, logger, manager);
    if (startsWith(locator, "isdnmodem:")) return resolveIsdnModem(locator, logger, manager);
    if (startsWith(locator, "server:")) return resolveServerDevice(locator, logger, manager);
    if (startsWith(locator, "fastserial:")) return resolveFastSerial(manager);
    if (startsWith(locator, "serial:")) return resolveSerial(locator, manager);
    if (startsWith(locator, "tcpip:")) return resolveTcpIp(locator, manager);
    if (startsWith(locator, "rfc2217:")) return resolveRemoteSerial(locator, logger, manager);
    if (startsWith(locator, "domain:")) return resolveDomain(locator, manager);
    if (startsWith(locator, "loopback:")) return resolveLoopback(locator, manager);
    if (startsWith(locator, "file:")) return resolveFile(locator, manager);
    if (startsWith(locator, "stdio:")) return resolveStdio(manager);
    if (startsWith(locator.toLower(), "capi:")) return resolveCapi(locator, manager);
    UDLParser(locator, "");  // a text without a protocol word is the parser's error (9728)
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "unknown protocol word in locator '" + locator + "'");
}

IO::Device* BaseDeviceResolver::resolveFastSerial(IO::DeviceManager* manager) {
    std::unique_ptr<IO::Device> owned = std::make_unique<IO::FastSerialDevice>(2u, IO::SerialDevice::Baud9600);
    auto* port = handedOver<IO::FastSerialDevice>(handOver(owned, manager));
    port->open();
    port->setTimeout(kFastSerialTimeoutMs);
    port->setFlowControl(IO::SerialDevice::FlowHardware);
    port->setExternalClock(false);
    port->setBaudrateDivider(20);
    port->setSynchronous(false);
    port->setOversampling(true);
    owned.release();
    return port;
}

IO::Device* BaseDeviceResolver::resolveSerial(const Base::String& locator, IO::DeviceManager* manager) {
    UDLParser parser(locator, "baudrate");
    Base::String target = parser.getTarget();
    SerialOptions settings;
    Base::String why;
    if (!settings.read(parser, why) || !settings.hasSpeed()) {
        setReason(why.isEmpty() ? Base::String("no baud rate given") : why);
        return nullptr;
    }

    std::unique_ptr<IO::Device> owned;
    if (target.isNumeric()) {
        owned = std::make_unique<IO::SerialDevice>(target.asUnsigned(10), IO::SerialDevice::Baud9600);
    } else if (IO::SerialDevice::isDevicePath(target)) {
        // A device path (/dev/ttyUSB0, /dev/serial/by-id/..., /dev/pts/3) is used as it stands;
        // any other target with "/" names the port after its last "/" (serial:x/COM2 is COM2).
        owned = std::make_unique<IO::SerialDevice>(target, IO::SerialDevice::Baud9600);
    } else {
        long slash = target.findLast('/');
        Base::String name = slash < 0 ? target : target.substring(static_cast<std::size_t>(slash) + 1);
        owned = std::make_unique<IO::SerialDevice>(name, IO::SerialDevice::Baud9600);
    }
    auto* port = handedOver<IO::SerialDevice>(handOver(owned, manager));
    {
        // A managed port is configured under its lock so that no other user sees it half set up.
        if (manager && !port->trylock(kManagedLockMs))
            throw Base::Exception(ErrPortLockTimeout, ".", __LINE__, "managed serial port stayed locked");
        ManagedLock unlockLater(manager ? port : nullptr);
        settings.applyTo(*port);
    }
    owned.release();
    return port;
}

IO::Device* BaseDeviceResolver::resolveLoopback(const Base::String& locator, IO::DeviceManager* manager) {
    UDLParser parser(locator, "", "");
    std::unique_ptr<IO::Device> owned = std::make_unique<Base::FifoDevice>(kLoopbackTimeoutMs);
    IO::Device* device = handOver(owned, manager);
    owned.release();
    return device;
}

IO::Device* BaseDeviceResolver::resolveFile(const Base::String& locator, IO::DeviceManager* manager) {
    UDLParser parser(locator, "mode", "");
    Base::String mode = parser.getString("mode");
    IO::File::EOpenMode openMode;
    bool truncate = false;
    if (mode == "ro" || mode == "") openMode = IO::File::ReadOnly;
    else if (mode == "rw") openMode = IO::File::ReadWrite;
    else if (mode == "tr") openMode = IO::File::Write, truncate = true;
    else if (mode == "ap") openMode = IO::File::Write;
    else
        throw Base::Exception(ErrBadLocator, ".", __LINE__,
                              "file locator needs a mode of ro, rw, tr or ap (or an empty one): '" + locator + "'");
    std::unique_ptr<IO::Device> owned = std::make_unique<IO::File>(parser.getTarget(), openMode, truncate);
    IO::Device* device = handOver(owned, manager);
    owned.release();
    return device;
}

IO::Device* BaseDeviceResolver::resolveStdio(IO::DeviceManager* manager) {
    std::unique_ptr<IO::Device> owned = std::make_unique<IO::CombinedDevice>(IO::StandardInput::getInstance(),
                                                                             IO::StandardOutput::getInstance(), false);
    IO::Device* device = handOver(owned, manager);
    owned.release();
    return device;
}

}  // namespace UDL
