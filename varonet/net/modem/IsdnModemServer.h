#pragma once
// Net::IsdnModemServer: answers calls on an ISDN terminal adapter.
//
// For answering, the template modem gets the server's init string,
// protocol, connect time-out and own MSN whenever the line was set up for
// another configuration. Without an own MSN the adapter is told "*", so it
// answers calls to every MSN. Each answered call is a new Net::IsdnModem.

#include <varonet/base/Export.h>
#include <varonet/net/modem/IsdnModem.h>
#include <varonet/net/modem/ModemServer.h>

namespace Net {

class VARONET_API IsdnModemServer : public ModemServer {
public:
    /// Serves the line of modem; with owns true the server deletes the modem (and its line).
    explicit IsdnModemServer(IsdnModem* modem, bool owns = true);

    void setProtocol(EIsdnProtocol protocol) { meProtocol = protocol; }
    EIsdnProtocol getProtocol() const { return meProtocol; }
    void setOwnMSN(const Base::String& msn) { msOwnMSN = msn; }
    const Base::String& getOwnMSN() const { return msOwnMSN; }

    /// "server:isdnmodem:Device=<" + the line's name + ">".
    Base::String getName() override;

protected:
    Modem* createChild() override;
    bool checkForRing(unsigned int ms) override;

private:
    IsdnModem* mpIsdnModem;
    EIsdnProtocol meProtocol = IsdnX75;
    Base::String msOwnMSN = "";
};

}  // namespace Net
