#include "support/CapiTestKit.h"

namespace TestSupport {

ExchangeScope::ExchangeScope() : mpExchange(std::make_shared<Sim::CapiExchange>()) {
    Capi::CapiBackend::setDefault(mpExchange);
}

ExchangeScope::~ExchangeScope() { Capi::CapiBackend::setDefault(nullptr); }

}  // namespace TestSupport
