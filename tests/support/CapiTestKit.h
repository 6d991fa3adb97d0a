#pragma once
// A simulated exchange installed as the process-wide CAPI backend for the
// life of the scope.

#include <memory>
#include <string>

#include <varonet/net/modem/CapiDevice.h>
#include <varonet/sim/CapiExchange.h>

namespace TestSupport {

/// A call request as the exchange saw it, every field named, so that one
/// assertion shows which one differs: "X75 number=9 msn=42 logical= x25=777 data=ud tei=3 b=1".
std::string describe(const Capi::CallRequest& request);
/// A CAPI device's settings, named the same way:
/// "number=1 msn= protocol=X75 connections=1 blocks=2 size=2048 attempts=1 redial=0".
std::string describe(const Net::CapiDevice& device);

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
