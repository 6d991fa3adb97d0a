// The server side of the resolver and its "server:" client branch.
#include <memory>

#include "base/Exception.h"
#include "base/SerialDevice.h"
#include "udl/BaseDeviceResolver.h"
#include "udl/SerialServer.h"
#include "udl/ServerDevice.h"
#include "udl/UDLErrors.h"
#include "udl/UDLParser.h"

namespace UDL {

IO::DeviceServer* BaseDeviceResolver::handOverServer(std::unique_ptr<IO::DeviceServer>& server,
                                                     IO::DeviceManager* manager) {
    if (manager) return manager->manageServer(server.release());
    server->initialize();
    return server.release();
}

IO::DeviceServer* BaseDeviceResolver::resolveServer(const Base::String& locator, Log::Logger* logger,
                                                    IO::DeviceManager* manager) {
    if (!locator.startsWith("server:")) return nullptr;
    UDLParser parser(locator, "", "UnnamedOption");
    const Base::String kind = parser.getTarget();
    if (kind == "none") return nullptr;
    if (kind == "tcpip" || kind == "domain") return resolveSocketServer(locator, manager);
    if (kind == "modem" || kind == "isdnmodem") return resolveModemServer(locator, logger, manager);
    if (kind == "serial") {
        UDLParser options(locator, "");
        IO::Device* device = resolve(options.getString("Device"), logger, manager);
        auto* port = dynamic_cast<IO::SerialDevice*>(device);
        if (!port) {
            if (!manager) delete device;  // not a serial port: nothing to serve, nothing kept
            return nullptr;
        }
        std::unique_ptr<IO::DeviceServer> server = std::make_unique<Net::SerialServer>(port);
        return handOverServer(server, manager);
    }
    return nullptr;
}

IO::Device* BaseDeviceResolver::resolveServerDevice(const Base::String& locator, Log::Logger* logger,
                                                    IO::DeviceManager* manager) {
    IO::DeviceServer* server = resolveServer(locator, logger, manager);
    if (!server) return nullptr;
    // Without a manager the call owns the server until the device has taken it over.
    std::unique_ptr<IO::DeviceServer> owned(manager ? nullptr : server);
    unsigned int connectTimeout = UDLParser(locator, "at").getUnsigned("ConnectTimeout");
    std::unique_ptr<IO::Device> device = std::make_unique<IO::ServerDevice>(server, connectTimeout);
    owned.release();
    IO::Device* result = handOver(device, manager);
    device.release();
    return result;
}

IO::DeviceServer* BaseDeviceResolver::resolveModemServer(const Base::String& locator, Log::Logger*, IO::DeviceManager*) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "modem servers are not available in this build: '" + locator + "'");
}

}  // namespace UDL
