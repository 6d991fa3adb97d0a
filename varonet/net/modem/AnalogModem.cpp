// The analog modem's set-up, preconnect and dial commands.
#include <varonet/net/modem/AnalogModem.h>

namespace Net {

AnalogModem::AnalogModem(StatefulDevice* line, Log::Logger* logger, ELineUse lineUse)
    : Modem(line, logger, true, lineUse) {}

Base::String AnalogModem::getName() { return "modem:" + getDeviceName(); }

Base::String AnalogModem::getInitCommands() { return getStandardInitialization() + mpAnalogInitStrings[getTableRow()]; }

Base::String AnalogModem::getPreconnectCommands() {
    checkModemType();
    Base::String commands = "X3";
    if (getWaitForLine() > 0) commands += "S6=" + Base::String::fromUnsigned(getWaitForLine());
    unsigned int column = static_cast<unsigned int>(meModulation) < 7 ? static_cast<unsigned int>(meModulation) : 0u;
    commands += mpAnalogProtocolStrings[getTableRow()][column];
    if (!getInitString().isEmpty()) commands += " " + getInitString();
    return commands;
}

Base::String AnalogModem::getConnectCommand() {
    Base::String command("");
    if (isBlacklisted()) command += mpAnalogIgnoreBlacklistStrings[getTableRow()];
    command += "D";
    command += meDialingMode == DialTone ? "T" : "P";
    if (!getOutsideLineAccess().isEmpty()) {
        command += getOutsideLineAccess();
        if (getWaitForLine() > 0) command += "W";
    } else if (mbFlashKey) {
        command += "!W";
    }
    appendNetworkParameters(command, getWaitOnLine(), getNetworkPrefix(), getWaitForNetwork());
    command += getNumber();
    return command;
}

}  // namespace Net
