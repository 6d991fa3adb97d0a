#pragma once
// Net::IsdnModem: a Net::Modem for ISDN terminal adapters driven by AT commands.
//
// Adds the B- or D-channel protocol, the X.25 logical number, the own MSN
// and the TEI, and builds the set-up, preconnect and dial commands from the
// row of the identification tables found for the line. X.25 addressing
// travels inside the dial command, so the adapter is not multi-step by default.

#include <varonet/base/Export.h>
#include <varonet/net/modem/Modem.h>

namespace Net {

class VARONET_API IsdnModem : public Modem {
public:
    IsdnModem(StatefulDevice* line, Log::Logger* logger, ELineUse lineUse = OwnsLine);
    IsdnModem(const IsdnModem& other) = default;
    IsdnModem& operator=(const IsdnModem& other) = default;

    /// Any protocol but X.25 on the B channel empties the logical number; X.75 also empties the user data.
    void setProtocol(EIsdnProtocol protocol);
    EIsdnProtocol getProtocol() const { return meProtocol; }
    void setLogicalNumber(const Base::String& number) { msLogicalNumber = number; }
    const Base::String& getLogicalNumber() const { return msLogicalNumber; }
    void setOwnMSN(const Base::String& msn) { msOwnMSN = msn; }
    const Base::String& getOwnMSN() const { return msOwnMSN; }
    void setTEI(const Base::String& tei) { msTEI = tei; }
    const Base::String& getTEI() const { return msTEI; }

    /// "isdnmodem:" followed by the line's name, ":" and the number (and "/" user data).
    Base::String getName() override;

protected:
    /// Standard set-up followed directly by the row's init fragment.
    Base::String getInitCommands() override;
    /// Protocol fragment, TEI (X.31), own MSN and the user's init string.
    Base::String getPreconnectCommands() override;
    /// "D", outside line, prefix, number and the X.25 addressing of the protocol.
    Base::String getConnectCommand() override;

private:
    EIsdnProtocol meProtocol = IsdnX75;
    Base::String msLogicalNumber = "";
    Base::String msOwnMSN = "";
    Base::String msTEI = "";
};

}  // namespace Net
