#pragma once
// UDL::DeviceResolver: turns a locator text into a device or a server.

#include <varonet/base/Device.h>
#include <varonet/base/DeviceManager.h>
#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>
#include <varonet/base/Logger.h>
#include <varonet/base/String.h>

namespace UDL {

class VARONET_API DeviceResolver {
public:
    DeviceResolver() = default;
    DeviceResolver(const DeviceResolver&) = default;
    DeviceResolver& operator=(const DeviceResolver&) = default;
    virtual ~DeviceResolver() = default;

    /// A new configured device for the locator, or null when the locator names
    /// none. Without a manager the caller owns the result; with one, every
    /// device built is handed to the manager. logger may be null.
    virtual IO::Device* resolve(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager) = 0;
    /// A new server for a "server:" locator, or null when it names none this resolver knows.
    virtual IO::DeviceServer* resolveServer(const Base::String& locator, Log::Logger* logger,
                                            IO::DeviceManager* manager) = 0;
};

}  // namespace UDL
