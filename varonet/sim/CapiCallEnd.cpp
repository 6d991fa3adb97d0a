// The far end of a simulated CAPI call, as a device the application's test can read and write.
#include <varonet/sim/detail/CapiCallEnd.h>

#include <varonet/sim/CapiExchange.h>

namespace Sim {

CapiCallEnd::CapiCallEnd(std::shared_ptr<CapiExchange> exchange, int connection, unsigned int timeoutMs)
    : mpExchange(std::move(exchange)), miConnection(connection), muTimeout(timeoutMs) {}

CapiCallEnd::~CapiCallEnd() { close(); }

bool CapiCallEnd::isOpen() { return mpExchange->farEndIsUp(miConnection); }

void CapiCallEnd::close() { mpExchange->farEndHangUp(miConnection); }

Base::String CapiCallEnd::getName() { return "capi-call:" + Base::String::fromInteger(miConnection); }

long CapiCallEnd::readInternal(char* buffer, long length) {
    return mpExchange->farEndRead(miConnection, buffer, length, muTimeout);
}

long CapiCallEnd::size() { return mpExchange->farEndSize(miConnection); }

bool CapiCallEnd::isEOF() { return size() == 0 && !isOpen(); }

bool CapiCallEnd::waitForData(unsigned int ms) { return mpExchange->farEndWait(miConnection, ms); }

long CapiCallEnd::write(const char* buffer, long length) {
    return mpExchange->farEndWrite(miConnection, buffer, length);
}

}  // namespace Sim
