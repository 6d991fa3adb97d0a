// The ISDN modem server: its name, its call modems and the protocol and MSN it answers with.
#include <varonet/net/modem/IsdnModemServer.h>

#include <varonet/net/modem/detail/CallModem.h>

namespace Net {

IsdnModemServer::IsdnModemServer(IsdnModem* modem, bool owns) : ModemServer(modem, owns), mpIsdnModem(modem) {}

Base::String IsdnModemServer::getName() { return "server:isdnmodem:Device=<" + getLineName() + ">"; }

Modem* IsdnModemServer::createChild() { return createCallModem(*mpIsdnModem); }

bool IsdnModemServer::checkForRing(unsigned int ms) {
    if (mpIsdnModem->isIncomingConfigurationRequired()) {
        mpIsdnModem->setInitString(getInitString());
        mpIsdnModem->setProtocol(meProtocol);
        mpIsdnModem->setConnectTimeout(getConnectTimeout());
        mpIsdnModem->setOwnMSN(msOwnMSN.isEmpty() ? Base::String("*") : msOwnMSN);
    }
    return mpIsdnModem->checkForRing(ms);
}

}  // namespace Net
