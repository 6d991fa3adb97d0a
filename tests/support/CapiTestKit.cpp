// Installs a fresh simulated exchange as the default CAPI backend for a scope.
#include "support/CapiTestKit.h"

namespace TestSupport {

ExchangeScope::ExchangeScope() : mpExchange(std::make_shared<Sim::CapiExchange>()) {
    Capi::CapiBackend::setDefault(mpExchange);
}

ExchangeScope::~ExchangeScope() { Capi::CapiBackend::setDefault(nullptr); }

}  // namespace TestSupport
