// The ISDN terminal adapter's protocol, TEI and MSN commands, and the dial command with its X.25 addressing.
#include <varonet/net/modem/IsdnModem.h>

namespace Net {

IsdnModem::IsdnModem(StatefulDevice* line, Log::Logger* logger, ELineUse lineUse)
    : Modem(line, logger, false, lineUse) {}

Base::String IsdnModem::getName() { return "isdnmodem:" + getDeviceName(); }

void IsdnModem::setProtocol(EIsdnProtocol protocol) {
    meProtocol = protocol;
    if (protocol != IsdnX25BChannel) msLogicalNumber = "";
    if (protocol == IsdnX75) setUserData("");
}

Base::String IsdnModem::getInitCommands() { return getStandardInitialization() + mpIsdnInitStrings[getTableRow()]; }

Base::String IsdnModem::getPreconnectCommands() {
    checkModemType();
    unsigned int row = getTableRow();
    Base::String commands("");
    switch (meProtocol) {
        case IsdnX31DChannel:
            commands += mpIsdnProtocolStrings[row][IsdnX31DChannel];
            if (!msTEI.isEmpty() && *mpIsdnTeiStrings[row] != '\0') commands += mpIsdnTeiStrings[row] + msTEI;
            break;
        case IsdnX25BChannel:
        case IsdnPPP: commands += mpIsdnProtocolStrings[row][meProtocol]; break;
        default:  // X.75, and V.110 which the adapters know under the X.75 setting
            commands += mpIsdnProtocolStrings[row][IsdnX75];
            break;
    }
    if (!msOwnMSN.isEmpty() && *mpIsdnMsnStrings[row] != '\0') commands += mpIsdnMsnStrings[row] + msOwnMSN;
    if (!getInitString().isEmpty()) commands += " " + getInitString();
    return commands;
}

Base::String IsdnModem::getConnectCommand() {
    Base::String command = "D" + getOutsideLineAccess() + getNetworkPrefix() + getNumber();
    if (meProtocol == IsdnX25BChannel) {
        if (!msLogicalNumber.isEmpty()) command += "X" + msLogicalNumber;
        if (!getUserData().isEmpty()) command += "P" + getUserData();
    } else if (meProtocol == IsdnX31DChannel) {
        if (getNumber().isEmpty()) command += msLogicalNumber;
        if (!getUserData().isEmpty()) command += "D" + getUserData();
    }
    return command;
}

}  // namespace Net
