#pragma once
// Sim::CapiCallEnd: the called party's side of a call through a
// Sim::CapiExchange, as a device. Reads give what the caller sent
// (waiting up to the read time-out for the first byte); writes go to the
// caller; closing or deleting it clears the call, and a call the caller
// cleared reads as the end of the stream.

#include <memory>

#include <varonet/base/Device.h>

namespace Sim {

class CapiExchange;

class CapiCallEnd : public IO::Device {
public:
    CapiCallEnd(std::shared_ptr<CapiExchange> exchange, int connection, unsigned int timeoutMs = 2000);
    CapiCallEnd(const CapiCallEnd&) = delete;
    CapiCallEnd& operator=(const CapiCallEnd&) = delete;
    ~CapiCallEnd() override;

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
    std::shared_ptr<CapiExchange> mpExchange;
    int miConnection;
    unsigned int muTimeout;
};

}  // namespace Sim
