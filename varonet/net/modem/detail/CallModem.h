#pragma once
// Net::CallModem: the modem of one answered call, handed out by a modem server.
//
// It shares the server's line without owning it, and the server is its
// device manager. Deleting it ends the call: it hangs up when the call still
// stands, then gives the call back through the manager's releaseServer, which
// frees the line for the next call. A call modem without a manager (one that
// never connected, or whose server went away first) gives nothing back.

#include <memory>

#include <varonet/base/DeviceManager.h>
#include <varonet/base/DeviceServer.h>
#include <varonet/base/Exception.h>
#include <varonet/base/Logger.h>
#include <varonet/net/modem/ModemServer.h>
#include <varonet/net/modem/StatefulDevice.h>

namespace Net {

template <class ModemClass>
class CallModem : public ModemClass {
public:
    CallModem(StatefulDevice* line, Log::Logger* logger) : ModemClass(line, logger, Modem::SharesLine) {}
    CallModem(const CallModem&) = delete;
    CallModem& operator=(const CallModem&) = delete;

    ~CallModem() override {
        IO::DeviceManager* manager = this->getDeviceManager();
        auto* server = dynamic_cast<IO::DeviceServer*>(manager);
        if (!server) return;
        try {
            this->close();
        } catch (const Base::Exception& e) {
            this->logFailure(e.getErrorCode());
        } catch (...) {
            // The call is given back whatever the hang-up did.
        }
        manager->releaseServer(server);
    }
};

template <class ModemClass>
Modem* ModemServer::createCallModem(const ModemClass& templateModem) {
    auto child = std::make_unique<CallModem<ModemClass>>(getLine(), templateModem.getLogger());
    child->setConfigurationID(templateModem.getConfigurationID());
    child->setDeviceManager(this);
    return child.release();
}

}  // namespace Net
