#pragma once
// Net::AnalogModem: a Net::Modem for analog telephone modems.
//
// Adds modulation, tone or pulse dialling and the flash key, and builds the
// set-up, preconnect and dial commands from the row of the identification
// tables found for the line. An analog modem is always multi-step: after
// connecting it can exchange user data with a packet network.

#include <varonet/base/Export.h>
#include <varonet/net/modem/Modem.h>

namespace Net {

class VARONET_API AnalogModem : public Modem {
public:
    enum EDialingMode { DialTone = 0, DialPulse = 1 };

    /// A multi-step modem (wait on connect 2000 ms, confirmation time-out 10000 ms) over line.
    AnalogModem(StatefulDevice* line, Log::Logger* logger, ELineUse lineUse = OwnsLine);
    AnalogModem(const AnalogModem& other) = default;
    AnalogModem& operator=(const AnalogModem& other) = default;

    void setModulationType(EModulationType modulation) { meModulation = modulation; }
    EModulationType getModulationType() const { return meModulation; }
    void setDialingMode(EDialingMode mode) { meDialingMode = mode; }
    EDialingMode getDialingMode() const { return meDialingMode; }
    /// Reach the outside line by a hook flash instead of access digits.
    void setFlashKey(bool flash) { mbFlashKey = flash; }
    bool getFlashKey() const { return mbFlashKey; }

    /// "modem:" followed by the line's name, ":" and the number (and "/" user data).
    Base::String getName() override;

protected:
    /// Standard set-up followed directly by the row's init fragment.
    Base::String getInitCommands() override;
    /// "X3", the dial-tone wait, the row's modulation fragment, and the user's init string.
    Base::String getPreconnectCommands() override;
    /// The dial command: blacklist fragment, "D", "T"/"P", outside line, pauses, prefix, number.
    Base::String getConnectCommand() override;

private:
    EModulationType meModulation = ModulationAutomatic;
    EDialingMode meDialingMode = DialTone;
    bool mbFlashKey = false;
};

}  // namespace Net
