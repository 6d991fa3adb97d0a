// The server side of the resolver and its "server:" client branch.
#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/net/modem/AnalogModem.h>
#include <varonet/net/modem/AnalogModemServer.h>
#include <varonet/net/modem/IsdnModem.h>
#include <varonet/net/modem/IsdnModemServer.h>
#include <varonet/net/modem/StatefulDevice.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/ModemParameters.h>
#include <varonet/udl/SerialServer.h>
#include <varonet/udl/ServerDevice.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/UDLParser.h>

namespace UDL {

namespace {
template <class T>
T* expectModem(Net::Modem* modem) {
    T* typed = dynamic_cast<T*>(modem);
    if (!typed)
        throw Base::Exception(ErrBadLocator, ".", __LINE__, "the device manager returned another kind of modem");
    return typed;
}
}  // namespace

IO::DeviceServer* BaseDeviceResolver::handOverServer(std::unique_ptr<IO::DeviceServer>& server,
                                                     IO::DeviceManager* manager) {
    if (manager) return manager->manageServer(server.release());
    server->initialize();
    return server.release();
}

IO::DeviceServer* BaseDeviceResolver::resolveServer(const Base::String& locator, Log::Logger* logger,
                                                    IO::DeviceManager* manager) {
    msReason = "";
    IO::DeviceServer* server = resolveServerKind(locator, logger, manager);
    if (server) msReason = "";
    else if (msReason.isEmpty()) msReason = "'" + locator + "' names no server";
    return server;
}

IO::DeviceServer* BaseDeviceResolver::resolveServerKind(const Base::String& locator, Log::Logger* logger,
                                                        IO::DeviceManager* manager) {
    if (!locator.startsWith("server:")) {
        setReason("'" + locator + "' is not a server: locator");
        return nullptr;
    }
    UDLParser parser(locator, "", "UnnamedOption");
    const Base::String kind = parser.getTarget();
    if (kind == "none") {
        setReason("server:none: names no server");
        return nullptr;
    }
    if (kind == "tcpip" || kind == "rfc2217" || kind == "domain") return resolveSocketServer(locator, manager);
    if (kind == "modem" || kind == "isdnmodem") return resolveModemServer(locator, logger, manager);
    if (kind == "serial") {
        UDLParser options(locator, "");
        IO::Device* device = resolve(options.getString("Device"), logger, manager);
        auto* port = dynamic_cast<IO::SerialDevice*>(device);
        if (!port) {
            // Not a serial port: nothing to serve, nothing kept (a managed device stays the manager's).
            std::unique_ptr<IO::Device> unused(manager ? nullptr : device);
            if (device || getReason().isEmpty()) setReason("the Device of a serial server is not a serial port");
            return nullptr;
        }
        std::unique_ptr<IO::DeviceServer> server = std::make_unique<Net::SerialServer>(port);
        return handOverServer(server, manager);
    }
    setReason("unknown server kind '" + kind + "'");
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

// server:modem:Device=...,Modulation=...,InitString2=...,ConnectTimeout=... and
// server:isdnmodem:Device=...,Protocol=...,OwnMSN=...,InitString2=...,ConnectTimeout=...:
// the nested device, the line over it, the template modem over the line and
// the server over the modem, each handed over as soon as it is built; the
// answering settings go to the server last. Without a manager each owns the
// one under it, so deleting the server releases the whole chain.
IO::DeviceServer* BaseDeviceResolver::resolveModemServer(const Base::String& locator, Log::Logger* logger,
                                                         IO::DeviceManager* manager) {
    UDLParser parser(locator, "");
    const bool isdn = parser.getTarget() == "isdnmodem";
    IO::Device* nested = resolve(parser.getString("Device"), logger, manager);
    std::unique_ptr<IO::Device> nestedOwner(manager ? nullptr : nested);
    std::unique_ptr<IO::Device> lineOwner = std::make_unique<Net::StatefulDevice>(nested, manager == nullptr);
    nestedOwner.release();  // the line's now (or the manager's)
    IO::Device* handedLine = handOver(lineOwner, manager);

    ModemParameters params(parser);
    Net::EIsdnProtocol protocol = Net::IsdnX75;
    Base::String ownMSN;
    Net::EModulationType modulation = Net::ModulationAutomatic;
    if (isdn) {
        protocol = ModemParameters::parseProtocol(parser.getString("Protocol"), "");
        ownMSN = parser.getString("OwnMSN");
    } else {
        modulation = ModemParameters::parseModulation(parser.getString("Modulation"));
    }
    if (!handedLine) {
        setReason("the device manager gave no line back");
        return nullptr;
    }
    auto* line = dynamic_cast<Net::StatefulDevice*>(handedLine);
    if (!line)
        throw Base::Exception(ErrBadLocator, ".", __LINE__, "the device manager returned another kind of device");

    std::unique_ptr<IO::Device> modemOwner;
    const auto lineUse = manager ? Net::Modem::SharesLine : Net::Modem::OwnsLine;  // a manager keeps the line
    if (isdn) modemOwner = std::make_unique<Net::IsdnModem>(line, logger, lineUse);
    else modemOwner = std::make_unique<Net::AnalogModem>(line, logger, lineUse);
    lineOwner.release();  // the modem's now (or the manager's)
    auto* modem = dynamic_cast<Net::Modem*>(handOver(modemOwner, manager));
    if (!modem) {
        if (manager) {
            setReason("the device manager gave no modem back");
            return nullptr;
        }
        throw Base::Exception(ErrBadLocator, ".", __LINE__, "the device manager returned another kind of device");
    }

    std::unique_ptr<IO::DeviceServer> serverOwner;
    if (isdn)
        serverOwner = std::make_unique<Net::IsdnModemServer>(expectModem<Net::IsdnModem>(modem), manager == nullptr);
    else
        serverOwner =
            std::make_unique<Net::AnalogModemServer>(expectModem<Net::AnalogModem>(modem), manager == nullptr);
    modemOwner.release();  // the server's now (or the manager's)
    IO::DeviceServer* handedServer = handOverServer(serverOwner, manager);
    auto* server = dynamic_cast<Net::ModemServer*>(handedServer);
    if (!server) {  // null, or a server the manager chose in its place
        if (!handedServer) setReason("the device manager gave no server back");
        return handedServer;
    }

    server->setInitString(params.msInitString2);
    server->setConnectTimeout(params.muConnectTimeout);
    if (auto* isdnServer = dynamic_cast<Net::IsdnModemServer*>(server)) {
        isdnServer->setProtocol(protocol);
        isdnServer->setOwnMSN(ownMSN);
    } else if (auto* analogServer = dynamic_cast<Net::AnalogModemServer*>(server)) {
        analogServer->setModulationType(modulation);
    }
    return server;
}

}  // namespace UDL
