#pragma once
// A simulated exchange installed as the process-wide CAPI backend for the
// life of the scope.

#include <memory>

#include <varonet/net/capi/SimulatedExchange.h>

namespace TestSupport {

/// Installs a fresh exchange as the default backend; removes it at the end.
class ExchangeScope {
public:
    ExchangeScope();
    ~ExchangeScope();
    Capi::SimulatedExchange& operator*() { return *mpExchange; }
    Capi::SimulatedExchange* operator->() { return mpExchange.get(); }

private:
    std::shared_ptr<Capi::SimulatedExchange> mpExchange;
};

}  // namespace TestSupport
