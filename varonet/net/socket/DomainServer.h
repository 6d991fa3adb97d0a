#pragma once
// Net::DomainServer: accepts local clients under one pipe name.
//
// It listens from construction on, and a caller can always connect: callers
// queue on the listening socket while an accepted one is being served. One
// server per name: a second server on a name in use fails in its constructor.
// Copies share the listener; the last copy removes the name.

#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>
#include <varonet/base/SharedHandle.h>
#include <varonet/base/String.h>

namespace Net {

struct DomainServerState;

class VARONET_API DomainServer : public IO::DeviceServer {
public:
    /// Listens under name (see DomainAddress). IO::Exception ErrPipeCreate when
    /// the name is in use or the socket cannot be set up; Base::Exception
    /// ErrNameConversion for a name that cannot be a path.
    explicit DomainServer(const Base::String& name);
    DomainServer(const DomainServer& other);
    DomainServer& operator=(const DomainServer& other);
    ~DomainServer() override;

    /// Only a flag: it decides whether acceptInternal waits.
    void setBlocking(bool blocking) override;
    /// True when a caller is queued; false after ms without one (0 only looks,
    /// 0xFFFFFFFF without limit) or when woken. IO::Exception ErrPipeConnectionWait
    /// when the wait itself fails.
    bool waitForConnection(unsigned int ms) override;
    /// The next caller as an open DomainDevice named "domain:" (the caller owns
    /// it). Blocking: waits for one; Base::Exception ErrPipeAcceptWait when the
    /// wait ends without a caller (wakeUp). Non-blocking: IO::WouldBlockException
    /// when nobody waits.
    IO::Device* acceptInternal() override;
    /// Does nothing: a pipe caller is never turned away.
    void rejectInternal() override {}
    /// Ends a blocking accept or wait now or at its next start (from any thread).
    void wakeUp() override;
    const Base::String& getPipeName() const;

private:
    Base::SharedHandle<DomainServerState> mpState;
};

}  // namespace Net
