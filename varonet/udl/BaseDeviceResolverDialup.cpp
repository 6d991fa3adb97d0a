// The resolver's branches for dial-up devices.
//
// A CAPI locator names no target: capi::Number=555,Protocol=X75. The device
// registers with CAPI (createCapi) before it is handed over; a failed
// registration deletes it and throws 9729.
//
// A modem locator wraps another locator: modem:serial\:COM1\@115k:Number=555.
// The nested device is resolved first, then the line (Net::StatefulDevice)
// over it, then the modem over the line; each is handed over as soon as it
// is built, the modem only after all its setters. Without a manager the
// chain owns itself from the outside in: deleting the modem deletes the
// line and the nested device. With a manager every device of the chain is
// the manager's, so no wrapper owns the device under it.

#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/net/capi/detail/CCapi.h>
#include <varonet/net/modem/AnalogModem.h>
#include <varonet/net/modem/CapiDevice.h>
#include <varonet/net/modem/IsdnModem.h>
#include <varonet/net/modem/StatefulDevice.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/ModemParameters.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/UDLParser.h>

namespace UDL {

namespace {

// Setters shared by the analog and the ISDN modem, in the order the locator's options are applied.
void applyCallSettings(Net::Modem& modem, const ModemParameters& params) {
    modem.setConnectTimeout(params.muConnectTimeout);
    modem.setWaitOnConnect(params.muWaitOnConnect);
    modem.setAttempts(params.miAttempts);
    modem.setRedialWaitingTime(params.miRedialWaitingTime);
    modem.setInitString(params.msInitString2);
    modem.setPreinitialized(params.mbPreinitialized);
    modem.setPreconfigured(params.mbPreconfigured);
}

void applyAddress(Net::Modem& modem, const ModemParameters& params) {
    modem.setNumber(params.msNumber);
    modem.setOutsideLineAccess(params.msOutsideLineAccess);
    modem.setWaitForLine(params.muWaitForLine);
    modem.setWaitOnLine(params.muWaitOnLine);
    modem.setNetworkPrefix(params.msNetworkPrefix);
    modem.setWaitForNetwork(params.muWaitForNetwork);
    modem.setUserData(params.msUserData);
}

// Resolves the nested locator and builds the line over it; the line is handed over.
// Without a manager, owner keeps the line until the modem takes it.
Net::StatefulDevice* buildLine(BaseDeviceResolver& resolver, const UDLParser& parser, Log::Logger* logger,
                               IO::DeviceManager* manager, std::unique_ptr<IO::Device>& owner,
                               IO::Device* (*handOver)(std::unique_ptr<IO::Device>&, IO::DeviceManager*)) {
    IO::Device* nested = resolver.resolve(parser.getTarget(), logger, manager);
    // A managed nested device is the manager's; an unmanaged one is ours until the line takes it.
    std::unique_ptr<IO::Device> nestedOwner(manager ? nullptr : nested);
    owner = std::make_unique<Net::StatefulDevice>(nested, manager == nullptr);
    nestedOwner.release();
    return BaseDeviceResolver::handedOver<Net::StatefulDevice>(handOver(owner, manager));
}

}  // namespace

IO::Device* BaseDeviceResolver::resolveModem(const Base::String& locator, Log::Logger* logger,
                                             IO::DeviceManager* manager) {
    UDLParser parser(locator, "at");
    std::unique_ptr<IO::Device> lineOwner;
    Net::StatefulDevice* line = buildLine(*this, parser, logger, manager, lineOwner, &BaseDeviceResolver::handOver);
    ModemParameters params(parser);
    auto dialingMode =
        parser.getString("DialingMode") == "Pulse" ? Net::AnalogModem::DialPulse : Net::AnalogModem::DialTone;
    bool flashKey = parser.getBool("FlashKey");
    Net::EModulationType modulation = ModemParameters::parseModulation(parser.getString("Modulation"));

    auto owned =
        std::make_unique<Net::AnalogModem>(line, logger, manager ? Net::Modem::SharesLine : Net::Modem::OwnsLine);
    Net::AnalogModem* modem = owned.get();
    std::unique_ptr<IO::Device> modemOwner(std::move(owned));
    lineOwner.release();  // the modem owns the line now (or the manager does)
    applyAddress(*modem, params);
    modem->setModulationType(modulation);
    modem->setDialingMode(dialingMode);
    modem->setFlashKey(flashKey);
    applyCallSettings(*modem, params);
    if (parser.hasOption("DelayToDisconnect")) modem->setDelayToDisconnect(parser.getUnsigned("DelayToDisconnect"));
    auto* result = BaseDeviceResolver::handedOver<Net::AnalogModem>(handOver(modemOwner, manager));
    modemOwner.release();  // the caller's now (or the manager's)
    return result;
}

IO::Device* BaseDeviceResolver::resolveIsdnModem(const Base::String& locator, Log::Logger* logger,
                                                 IO::DeviceManager* manager) {
    UDLParser parser(locator, "at");
    std::unique_ptr<IO::Device> lineOwner;
    Net::StatefulDevice* line = buildLine(*this, parser, logger, manager, lineOwner, &BaseDeviceResolver::handOver);
    ModemParameters params(parser);
    Base::String logicalNumber = parser.getString("LogicalNumber");
    Net::EIsdnProtocol protocol = ModemParameters::parseProtocol(parser.getString("Protocol"), logicalNumber);

    auto owned =
        std::make_unique<Net::IsdnModem>(line, logger, manager ? Net::Modem::SharesLine : Net::Modem::OwnsLine);
    Net::IsdnModem* modem = owned.get();
    std::unique_ptr<IO::Device> modemOwner(std::move(owned));
    lineOwner.release();  // the modem owns the line now (or the manager does)
    applyAddress(*modem, params);
    modem->setProtocol(protocol);
    modem->setLogicalNumber(logicalNumber);
    applyCallSettings(*modem, params);
    modem->setOwnMSN("");
    if (parser.hasOption("DelayToDisconnect")) modem->setDelayToDisconnect(parser.getUnsigned("DelayToDisconnect"));
    if (parser.hasOption("OwnMSN")) modem->setOwnMSN(parser.getString("OwnMSN"));
    auto* result = BaseDeviceResolver::handedOver<Net::IsdnModem>(handOver(modemOwner, manager));
    modemOwner.release();  // the caller's now (or the manager's)
    return result;
}

IO::Device* BaseDeviceResolver::resolveCapi(const Base::String& locator, IO::DeviceManager* manager) {
    // The target is not used: capi::Number=555,Protocol=X75.
    UDLParser parser(locator, "");
    ModemParameters params(parser);
    Base::String logicalNumber = parser.getString("LogicalNumber");
    Net::EIsdnProtocol protocol = ModemParameters::parseProtocol(parser.getString("Protocol"), logicalNumber);

    auto owned = std::make_unique<Net::CapiDevice>();
    Net::CapiDevice* capi = owned.get();
    std::unique_ptr<IO::Device> owner(std::move(owned));
    capi->setProtocol(protocol);
    capi->setNumber(params.msNumber);
    capi->setCallingX25Number("");
    capi->setLogicalNumber(logicalNumber);
    capi->setUserData(params.msUserData);
    // Absent options leave the device's own defaults.
    if (parser.hasOption("LogicalConnections")) capi->setMaxLogicalConnections(params.muLogicalConnections);
    if (parser.hasOption("DataBlocks")) capi->setDataBlocks(params.muDataBlocks);
    if (parser.hasOption("BlockSize")) capi->setBlockSize(params.muBlockSize);
    if (parser.hasOption("OutsideLineAccess")) capi->setOutsideLineAccess(params.msOutsideLineAccess);
    if (parser.hasOption("NetworkPrefix")) capi->setNetworkPrefix(params.msNetworkPrefix);
    if (parser.hasOption("OwnMSN")) capi->setOwnMSN(parser.getString("OwnMSN"));
    capi->setAttempts(params.miAttempts);
    capi->setRedialWaitingTime(params.miRedialWaitingTime);
    if (!capi->createCapi())
        throw Base::Exception(
            ErrBadLocator, ".", __LINE__,
            "CAPI registration failed (" + capi->getCapi()->getLastMessage() + "): '" + locator + "'");
    auto* result = BaseDeviceResolver::handedOver<Net::CapiDevice>(handOver(owner, manager));
    owner.release();  // the caller's now (or the manager's)
    return result;
}

}  // namespace UDL
