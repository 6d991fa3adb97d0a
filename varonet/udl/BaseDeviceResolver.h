#pragma once
// UDL::BaseDeviceResolver: the library's resolver.
//
// The locator's protocol word picks the branch, tested in this order on the
// start of the text: none: modem: isdnmodem: server: fastserial: serial:
// tcpip: rfc2217: domain: loopback: file: stdio: and capi: (any case). Each device
// built is handed over at once: to the manager when there is one (and the
// device it returns is used), otherwise its initialize() runs. A device
// still owned by the call when a later step throws is deleted.

#include <memory>

#include <varonet/base/Export.h>
#include <varonet/udl/DeviceResolver.h>

namespace UDL {

class VARONET_API BaseDeviceResolver : public DeviceResolver {
public:
    /// Throws Base::Exception 9729 for an unknown protocol word or an unusable
    /// option, 9728 for a locator without ":", 5962 when a managed serial port
    /// stays locked for 3000 ms; errors of the devices pass through.
    IO::Device* resolve(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager) override;
    IO::DeviceServer* resolveServer(const Base::String& locator, Log::Logger* logger,
                                    IO::DeviceManager* manager) override;

    /// Why the last resolve (or resolveServer) on this object returned null, in words for people
    /// ("the baud rate 1000000 is not one of the listed rates", "none: names no
    /// device"); empty when it returned a device or threw. A resolver shared by
    /// threads has one reason for all of them.
    Base::String getReason() const { return msReason; }

    /// The device a hand-over gave back, as the class that was handed over;
    /// throws Base::Exception 9729 when a manager returned another kind.
    template <class T>
    static T* handedOver(IO::Device* device) {
        T* typed = dynamic_cast<T*>(device);
        if (!typed) throwWrongKind(__LINE__);
        return typed;
    }

protected:
    /// Records why the running call gives null; a branch calls it just before returning null.
    void setReason(const Base::String& reason);
    [[noreturn]] static void throwWrongKind(int line);
    /// The hand-over step. Without a manager: initialize() and keep the device
    /// (still owned by the caller's pointer). With one: the manager takes the
    /// device and its answer is returned (the pointer is then empty).
    static IO::Device* handOver(std::unique_ptr<IO::Device>& device, IO::DeviceManager* manager);
    /// The same for a server: the result is the manager's answer, or the server
    /// itself after its initialize(); the pointer is empty afterwards either way.
    static IO::DeviceServer* handOverServer(std::unique_ptr<IO::DeviceServer>& server, IO::DeviceManager* manager);

private:
    IO::Device* resolveBranch(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager);
    IO::DeviceServer* resolveServerKind(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager);
    IO::Device* resolveFastSerial(IO::DeviceManager* manager);
    IO::Device* resolveSerial(const Base::String& locator, IO::DeviceManager* manager);
    IO::Device* resolveLoopback(const Base::String& locator, IO::DeviceManager* manager);
    IO::Device* resolveFile(const Base::String& locator, IO::DeviceManager* manager);
    IO::Device* resolveStdio(IO::DeviceManager* manager);
    // Branches for this library's own devices.
    IO::Device* resolveModem(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager);
    IO::Device* resolveIsdnModem(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager);
    IO::Device* resolveServerDevice(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager);
    IO::Device* resolveTcpIp(const Base::String& locator, IO::DeviceManager* manager);
    IO::Device* resolveRemoteSerial(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager);
    IO::Device* resolveDomain(const Base::String& locator, IO::DeviceManager* manager);
    IO::Device* resolveCapi(const Base::String& locator, IO::DeviceManager* manager);
    // Server kinds of resolveServer.
    IO::DeviceServer* resolveSocketServer(const Base::String& locator, IO::DeviceManager* manager);
    IO::DeviceServer* resolveModemServer(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager);

    Base::String msReason;
};

}  // namespace UDL
