#pragma once
// Helpers for CAPI tests: a simulated exchange installed as the process-wide
// CAPI backend for the life of the scope, and byte collection from devices
// whose reads do not wait.

#include <memory>
#include <string>

#include <varonet/base/Device.h>
#include <varonet/net/capi/SimulatedExchange.h>

namespace CapiTestKit {

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

/// Reads from device (waitForData, then read) until count bytes came or ms passed.
std::string collect(IO::Device& device, std::size_t count, unsigned int ms);

}  // namespace CapiTestKit
