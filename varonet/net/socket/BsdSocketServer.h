#pragma once
// Net::BsdSocketServer: a listening stream socket as an IO::DeviceServer.
// Copies share the listening socket; protocol classes supply accept and reject.

#include <memory>

#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>
#include <varonet/net/socket/BsdSocketType.h>

namespace Net {

class BsdSocket;

class VARONET_API BsdSocketServer : public IO::DeviceServer {
public:
    /// No socket yet; the protocol class binds and listens.
    BsdSocketServer(const BsdSocketType& type, unsigned int connectTimeout);
    BsdSocketServer(const BsdSocketServer& other);
    BsdSocketServer& operator=(const BsdSocketServer& other);
    ~BsdSocketServer() override;

    /// A non-blocking server's accept raises IO::WouldBlockException when nobody waits.
    void setBlocking(bool blocking) override;
    /// True when a caller is queued; false after ms without one (0 only looks,
    /// 0xFFFFFFFF waits without limit) or when woken. IO::Exception ErrNoSocket
    /// when the server has no socket.
    bool waitForConnection(unsigned int ms) override;
    /// Ends a blocking accept or wait now or at its next start (from any thread):
    /// an accept raises EINTR, a wait returns false.
    void wakeUp() override;

protected:
    BsdSocket& getSocket() const { return *mpSocket; }

private:
    std::unique_ptr<BsdSocket> mpSocket;  // a handle: const servers still wait and accept on it
};

}  // namespace Net
