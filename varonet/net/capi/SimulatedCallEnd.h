#pragma once
// Capi::SimulatedCallEnd: the called party's side of a call through a
// Capi::SimulatedExchange, as a device. Reads give what the caller sent
// (waiting up to the read time-out for the first byte); writes go to the
// caller; closing or deleting it clears the call, and a call the caller
// cleared reads as the end of the stream.

#include <memory>

#include <varonet/base/Device.h>

namespace Capi {

class SimulatedExchange;

class SimulatedCallEnd : public IO::Device {
public:
    SimulatedCallEnd(std::shared_ptr<SimulatedExchange> exchange, int connection, unsigned int timeoutMs = 2000);
    SimulatedCallEnd(const SimulatedCallEnd&) = delete;
    SimulatedCallEnd& operator=(const SimulatedCallEnd&) = delete;
    ~SimulatedCallEnd() override;

    /// True while the call stands.
    bool isOpen() override;
    /// A call cannot be re-opened from the far end; does nothing.
    void open() override {}
    /// Clears the call.
    void close() override;
    Base::String getName() override;

    long readInternal(char* buffer, long length) override;
    long size() override;
    bool isEOF() override;
    unsigned int getTimeout() override { return muTimeout; }
    void setTimeout(unsigned int ms) { muTimeout = ms; }
    bool waitForData(unsigned int ms) override;
    /// All bytes while the call stands, 0 once it is down.
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;

private:
    std::shared_ptr<SimulatedExchange> mpExchange;
    int miConnection;
    unsigned int muTimeout;
};

}  // namespace Capi
