#pragma once
// Net::SerialServer: a serial line as a server. Its one connection is the
// port itself, which counts as connected once bytes arrive. The port is
// handed out once; after that the server is empty for good.

#include <memory>

#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/WakeSignal.h>

namespace Net {

class VARONET_API SerialServer : public IO::DeviceServer {
public:
    /// Takes ownership of the port; it passes to whoever accepts it. A port
    /// nobody accepted is deleted with the server unless a device manager keeps it.
    explicit SerialServer(IO::SerialDevice* port);
    ~SerialServer() override;

    void setBlocking(bool blocking) override;
    /// Opens the port if needed and waits at most ms (in 200 ms steps) for a
    /// byte; 0 returns false at once after opening. False once the port is
    /// handed out, and when wakeUp ended the wait.
    bool waitForConnection(unsigned int ms) override;
    /// Locks and opens the port, waits without limit for a byte, and hands the
    /// port out still locked; ownership passes to the caller. Throws
    /// Base::Exception 1567 once it is handed out, and IO::SystemException
    /// EINTR when wakeUp ended the wait. Whatever ends it without a caller (an
    /// open that fails included) leaves the port unlocked and with the server.
    IO::Device* acceptInternal() override;
    void rejectInternal() override {}
    /// Ends a wait or accept that another thread is in (within one 200 ms
    /// step), or the next one; a look (a wait of 0 ms) leaves it pending.
    void wakeUp() override { mWake.wake(); }

private:
    std::unique_ptr<IO::SerialDevice> mpPort;
    Thread::WakeSignal mWake;
};

}  // namespace Net
