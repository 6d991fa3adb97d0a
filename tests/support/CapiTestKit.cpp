#include "support/CapiTestKit.h"

namespace TestSupport {

ExchangeScope::ExchangeScope() : mpExchange(std::make_shared<Capi::SimulatedExchange>()) {
    Capi::CapiBackend::setDefault(mpExchange);
}

ExchangeScope::~ExchangeScope() { Capi::CapiBackend::setDefault(nullptr); }

}  // namespace TestSupport
