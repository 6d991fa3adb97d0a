#pragma once
// Net::AnalogModemServer: answers calls on an analog modem line.
//
// For answering, the template modem gets the server's init string,
// modulation and connect time-out whenever the line was set up for another
// configuration; each answered call is a new Net::AnalogModem on the line.

#include <varonet/base/Export.h>
#include <varonet/net/modem/AnalogModem.h>
#include <varonet/net/modem/ModemServer.h>

namespace Net {

class VARONET_API AnalogModemServer : public ModemServer {
public:
    /// Serves the line of modem; with owns true the server deletes the modem (and its line).
    explicit AnalogModemServer(AnalogModem* modem, bool owns = true);

    void setModulationType(EModulationType modulation) { meModulation = modulation; }
    EModulationType getModulationType() const { return meModulation; }

    /// "server:analogmodem:Device=<" + the line's name + ">".
    Base::String getName() override;

protected:
    Modem* createChild() override;
    bool checkForRing(unsigned int ms) override;

private:
    AnalogModem* mpAnalogModem;
    EModulationType meModulation = ModulationAutomatic;
};

}  // namespace Net
