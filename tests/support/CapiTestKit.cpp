// Installs a fresh simulated exchange as the default CAPI backend for a scope.
#include "support/CapiTestKit.h"

namespace TestSupport {

ExchangeScope::ExchangeScope() : mpExchange(std::make_shared<Sim::CapiExchange>()) {
    Capi::CapiBackend::setDefault(mpExchange);
}

ExchangeScope::~ExchangeScope() { Capi::CapiBackend::setDefault(nullptr); }

std::string describe(const Capi::CallRequest& r) {
    return r.protocol + " number=" + r.number + " msn=" + r.ownMSN + " logical=" + r.logicalNumber +
           " x25=" + r.callingX25Number + " data=" + r.userData + " tei=" + r.tei + " b=" + std::to_string(r.bChannels);
}

std::string describe(const Net::CapiDevice& d) {
    return "number=" + d.getNumber().str() + " msn=" + d.getOwnMSN().str() +
           " protocol=" + Net::CapiDevice::protocolText(d.getIsdnProtocol()) +
           " connections=" + std::to_string(d.getMaxLogicalConnections()) +
           " blocks=" + std::to_string(d.getDataBlocks()) + " size=" + std::to_string(d.getBlockSize()) +
           " attempts=" + std::to_string(d.getAttempts()) + " redial=" + std::to_string(d.getRedialWaitingTime());
}

}  // namespace TestSupport
