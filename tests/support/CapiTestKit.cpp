#include "support/CapiTestKit.h"

#include <algorithm>

#include <varonet/base/StopWatch.h>

namespace CapiTestKit {

ExchangeScope::ExchangeScope() : mpExchange(std::make_shared<Capi::SimulatedExchange>()) {
    Capi::CapiBackend::setDefault(mpExchange);
}

ExchangeScope::~ExchangeScope() { Capi::CapiBackend::setDefault(nullptr); }

std::string collect(IO::Device& device, std::size_t count, unsigned int ms) {
    std::string out;
    OS::StopWatch watch;
    char buffer[4096];
    while (out.size() < count) {
        unsigned int left = watch.getRemaining(ms);
        if (left == 0 || !device.waitForData(left)) break;
        long n = device.read(buffer, static_cast<long>(std::min(sizeof buffer, count - out.size())));
        if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

}  // namespace CapiTestKit
