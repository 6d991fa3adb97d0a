#pragma once
// A simulated exchange installed as the process-wide CAPI backend for the
// life of the scope.

#include <memory>

#include <varonet/sim/CapiExchange.h>

namespace TestSupport {

/// Installs a fresh exchange as the default backend; removes it at the end.
class ExchangeScope {
public:
    ExchangeScope();
    ~ExchangeScope();
    Sim::CapiExchange& operator*() { return *mpExchange; }
    Sim::CapiExchange* operator->() { return mpExchange.get(); }

private:
    std::shared_ptr<Sim::CapiExchange> mpExchange;
};

}  // namespace TestSupport
