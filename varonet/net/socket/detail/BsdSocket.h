#pragma once
// Net::BsdSocket: a counted handle onto one shared socket record. Every
// socket system call of the subsystem is made here.
//
// Copies share the record (Base::SharedHandle); the last handle to go closes
// the socket. The count is a plain integer: copies of one socket must not be
// made or released on two threads at once.
//
// Errors: a failed system call ends in fail(), which closes the socket first
// (close-on-error) unless the error is a would-block, and then raises the
// errno value through IO::checkSystemError with a text that names the
// operation and the other end ("connect to 127.0.0.1:7000").

#include <sys/socket.h>

#include <varonet/base/SharedHandle.h>
#include <varonet/net/socket/BsdSocketType.h>
#include <varonet/net/socket/detail/BsdSocketState.h>

namespace Net {

class BsdSocket {
public:
    enum EWaitKind { Connect, Accept, Read };

    /// A record with no socket yet; the socket is created by connect or bind.
    BsdSocket(const BsdSocketType& type, unsigned int connectTimeout);
    /// Adopts an already connected socket descriptor (closed by the last handle).
    BsdSocket(const BsdSocketType& type, int handle, unsigned int connectTimeout);
    /// Copies share the record; a moved-from handle still shares it (copies only).
    BsdSocket(const BsdSocket& other) = default;
    BsdSocket& operator=(const BsdSocket& other) = default;
    ~BsdSocket() = default;

    /// The descriptor, -1 when there is none.
    int getHandle() const;
    /// True while there is a socket marked connected (no probe, unlike isConnected).
    bool hasConnection() const;
    bool isBlocking() const;
    unsigned int getConnectTimeout() const;
    void setConnectTimeout(unsigned int ms);
    BsdSocketType getType() const;

    /// Connects, creating the socket first when there is none. With a connect
    /// time-out T > 0 the attempt ends after T ms with Base::TimeoutException;
    /// a refusal raises its errno (ECONNREFUSED). The socket's blocking mode is
    /// what it was before. On failure the socket stays created, not connected.
    /// Failures name the address ("connect to 127.0.0.1:7000: ...").
    void connect(const sockaddr* address, socklen_t length);
    /// Binds, creating the socket first when there is none.
    void bind(const sockaddr* address, socklen_t length);
    /// SO_REUSEADDR, then listen with backlog SOMAXCONN. Failures are not reported.
    void listen();
    /// Takes the next queued connection and returns a handle onto its own new
    /// record (blocking, connect time-out 0). A blocking accept waits until a
    /// caller comes or wakeUp is called (then EINTR); a non-blocking one with
    /// no caller raises IO::WouldBlockException. The listener stays open.
    BsdSocket accept();
    /// Turns the next queued caller away: it is accepted and reset at once,
    /// so that caller sees ECONNRESET. Never reports an error.
    void reject();
    /// At most length bytes. Blocking mode waits for the first byte (wakeUp ends
    /// the wait with EINTR, the socket stays open); non-blocking mode with nothing
    /// queued raises IO::WouldBlockException. 0 when the peer has closed: the
    /// socket is then closed. length 0 returns 0 and never closes.
    long receive(char* buffer, long length);
    /// Sends with MSG_NOSIGNAL (a vanished peer is EPIPE, not a signal); returns
    /// the count the system took (all of it on a blocking socket).
    long send(const char* buffer, long length);
    /// Waits up to ms (0xFFFFFFFF: no limit; 0: only looks) for the event of kind.
    /// True when it came without error; false on time-out, on wakeUp, or when
    /// the event carried an error (then in errorOut). Raises IO::Exception
    /// ErrNoSocket without a socket and ErrReadEventNoData when a read event
    /// leaves nothing to read (the peer has closed). One poll(2) answers it
    /// unless the peer has closed, when the queue is asked whether bytes remain.
    bool waitFor(unsigned int ms, EWaitKind kind, int* errorOut = nullptr);
    /// Liveness: false without a socket or connection (and the socket is then
    /// closed); true at once while a wait or receive runs; otherwise
    /// probes with a non-blocking peek and closes the socket when the peer is gone.
    bool isConnected();
    /// Bytes readable now (FIONREAD).
    long getAvailable();
    /// FIONBIO: true = blocking. Fails with EBADF when there is no socket.
    void setBlocking(bool blocking);
    /// TCP_NODELAY on a TCP socket (small writes leave at once); nothing on
    /// other sockets or without a socket. True when the option is now as asked.
    bool setNoDelay(bool on);
    /// The address family of the next socket created (AF_INET, AF_INET6); a
    /// socket there is now is closed first.
    void setFamily(std::int32_t family);
    /// IPV6_V6ONLY on an IPv6 socket, created now when there is none: true
    /// takes IPv6 callers only, false IPv4 callers too. Call before bind.
    /// False when the option could not be set.
    bool setV6Only(bool on);
    /// True (once) when a wait since the last call ended because of wakeUp.
    bool takeWakeUp();
    /// Closes the socket; the record stays, ready for a new connect. While a call
    /// on another thread uses it (a send beside a receive), the socket is shut
    /// down at once, which ends that call, and closed when the call returns.
    void close();
    /// Ends the current or next blocking wait, accept or receive on this socket
    /// (any thread may call it).
    void wakeUp();
    /// Raises the current errno; closes the socket first when closeOnError is
    /// set and the error is not a would-block. operation ("receive from") is
    /// put before the other end's address in the text; null leaves it out.
    [[noreturn]] void fail(bool closeOnError, const char* operation = nullptr);
    /// poll(2) on the socket together with the wake descriptor, ms as for waitFor.
    /// 1: an event (in revents when given); 0: time-out; -1: woken (the wake-up is
    /// consumed); -2: poll failed (errno tells why). With ms 0 it only looks at
    /// the socket and leaves a pending wake-up for the next wait.
    int pollWithWake(short events, unsigned int ms, short* revents);

private:
    void ensureSocket();
    void setBlockingMode(bool blocking);
    void closeHandle();
    [[noreturn]] void failWith(int error, bool closeOnError, const char* operation);
    /// accept4 on the listener; a blocking listener waits wakeably first. The
    /// caller's address goes to address and length.
    int acceptHandle(sockaddr_storage& address, socklen_t& length);

    Base::SharedHandle<BsdSocketState> mpState;
};

}  // namespace Net
