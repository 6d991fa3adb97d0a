#pragma once
// Net::SerialServer: a serial line as a server. Its one connection is the
// port itself, which counts as connected once bytes arrive. The port is
// handed out once; after that the server is empty for good.

#include <memory>

#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>
#include <varonet/base/SerialDevice.h>

namespace Net {

class VARONET_API SerialServer : public IO::DeviceServer {
public:
    /// Takes ownership of the port; it passes to whoever accepts it. A port
    /// nobody accepted is deleted with the server unless a device manager keeps it.
    explicit SerialServer(IO::SerialDevice* port);
    ~SerialServer() override;

    void setBlocking(bool blocking) override;
    /// Opens the port if needed and waits at most ms (in 200 ms steps) for a
    /// byte; 0 returns false at once after opening. False once the port is handed out.
    bool waitForConnection(unsigned int ms) override;
    /// Locks and opens the port, waits without limit for a byte, and hands the
    /// port out still locked; ownership passes to the caller. Throws
    /// Base::Exception 1567 once it is handed out.
    IO::Device* acceptInternal() override;
    void rejectInternal() override {}

private:
    std::unique_ptr<IO::SerialDevice> mpPort;
};

}  // namespace Net
