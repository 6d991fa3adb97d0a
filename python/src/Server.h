#pragma once
// PyVaronet::Server: a "server:" locator's server, handing out one device per caller.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <varonet/base/DeviceServer.h>

#include "Device.h"

namespace PyVaronet {

class Server {
public:
    Server(std::unique_ptr<IO::DeviceServer> server, std::string locator);
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server();

    /// Waits at most ms for a caller; true when one is waiting. Throws ErrNotOpen after close.
    bool waitForCaller(unsigned int ms);
    /// The next caller's connection, open; null when the server handed out nothing.
    std::unique_ptr<Device> accept();
    /// Stops listening; a wait in another thread ends.
    void close();
    bool isClosed() const { return mbClosed.load(); }
    const std::string& locator() const { return msLocator; }
    /// The TCP port it listens on; nothing for other servers.
    std::optional<unsigned int> port() const;

private:
    std::unique_ptr<IO::DeviceServer> mpServer;
    std::string msLocator;
    std::mutex mLock;  // a wait or accept, and the end of the server
    std::atomic<bool> mbClosed{false};
};

}  // namespace PyVaronet
