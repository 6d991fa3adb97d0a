// The analog modem server: its name, its call modems and the answering set-up it gives the template modem.
#include <varonet/net/modem/AnalogModemServer.h>

#include <varonet/net/modem/detail/CallModem.h>

namespace Net {

AnalogModemServer::AnalogModemServer(AnalogModem* modem, bool owns) : ModemServer(modem, owns), mpAnalogModem(modem) {}

Base::String AnalogModemServer::getName() { return "server:analogmodem:Device=<" + getLineName() + ">"; }

Modem* AnalogModemServer::createChild() { return createCallModem(*mpAnalogModem); }

bool AnalogModemServer::checkForRing(unsigned int ms) {
    if (mpAnalogModem->isIncomingConfigurationRequired()) {
        mpAnalogModem->setInitString(getInitString());
        mpAnalogModem->setModulationType(meModulation);
        mpAnalogModem->setConnectTimeout(getConnectTimeout());
    }
    return mpAnalogModem->checkForRing(ms);
}

}  // namespace Net
