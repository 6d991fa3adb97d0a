#include <varonet/net/capi/SimulatedCallEnd.h>

#include <varonet/net/capi/SimulatedExchange.h>

namespace Capi {

SimulatedCallEnd::SimulatedCallEnd(std::shared_ptr<SimulatedExchange> exchange, int connection, unsigned int timeoutMs)
    : mpExchange(std::move(exchange)), miConnection(connection), muTimeout(timeoutMs) {}

SimulatedCallEnd::~SimulatedCallEnd() { close(); }

bool SimulatedCallEnd::isOpen() { return mpExchange->farEndIsUp(miConnection); }

void SimulatedCallEnd::close() { mpExchange->farEndHangUp(miConnection); }

Base::String SimulatedCallEnd::getName() { return "capi-call:" + Base::String::fromInteger(miConnection); }

long SimulatedCallEnd::readInternal(char* buffer, long length) {
    return mpExchange->farEndRead(miConnection, buffer, length, muTimeout);
}

long SimulatedCallEnd::size() { return mpExchange->farEndSize(miConnection); }

bool SimulatedCallEnd::isEOF() { return size() == 0 && !isOpen(); }

bool SimulatedCallEnd::waitForData(unsigned int ms) { return mpExchange->farEndWait(miConnection, ms); }

long SimulatedCallEnd::write(const char* buffer, long length) {
    return mpExchange->farEndWrite(miConnection, buffer, length);
}

}  // namespace Capi
