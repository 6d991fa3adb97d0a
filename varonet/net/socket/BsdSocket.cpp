// Unix bodies of the socket layer: every socket system call of the library
// is made in this file or in DomainServer.cpp / DomainDevice.cpp.
#include <varonet/net/socket/detail/BsdSocket.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/detail/InetAddress.h>

namespace Net {

namespace {
constexpr unsigned int WaitForever = 0xFFFFFFFFu;

// "127.0.0.1:7000", "[::1]:7000" or a pipe's path: how failures name the other end.
Base::String describe(const sockaddr* address, socklen_t length) {
    if (address->sa_family == AF_INET6) return InetAddress::fromRaw(address, length).toString();
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        char text[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        return Base::String(text) + ":" + Base::String::fromUnsigned(ntohs(in->sin_port));
    }
    if (address->sa_family == AF_UNIX && length > static_cast<socklen_t>(offsetof(sockaddr_un, sun_path))) {
        const auto* un = reinterpret_cast<const sockaddr_un*>(address);
        std::size_t room = static_cast<std::size_t>(length) - offsetof(sockaddr_un, sun_path);
        return Base::String(un->sun_path, ::strnlen(un->sun_path, room));
    }
    return Base::String("");
}

// Clears a busy flag however the guarded call ends.
class BusyFlag {
public:
    explicit BusyFlag(std::atomic<bool>& flag) : mFlag(flag) { mFlag = true; }
    ~BusyFlag() { mFlag = false; }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

private:
    std::atomic<bool>& mFlag;
};

void closeParked(BsdSocketState& state) {
    int parked = state.miParked.exchange(-1);
    if (parked >= 0) ::close(parked);
}

// Marks a call that uses the descriptor: a close meanwhile is finished by the
// last such call to end (see BsdSocketState::miUsers).
class InUse {
public:
    explicit InUse(BsdSocketState& state) : mState(state) { ++mState.miUsers; }
    ~InUse() {
        if (--mState.miUsers == 0) closeParked(mState);
    }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

private:
    BsdSocketState& mState;
};
}  // namespace

BsdSocketState::BsdSocketState(const BsdSocketType& type, int handle, unsigned int connectTimeout)
    : mbConnected(handle >= 0), miHandle(handle), miFamily(type.getFamily()), miType(type.getType()),
      miProtocol(type.getProtocol()), muConnectTimeout(connectTimeout) {
    miWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (miWakeFd < 0) IO::throwLastSystemError("eventfd");
}

BsdSocketState::~BsdSocketState() {
    int handle = miHandle.load();
    if (handle >= 0) ::close(handle);
    closeParked(*this);
    ::close(miWakeFd);
}

BsdSocket::BsdSocket(const BsdSocketType& type, unsigned int connectTimeout)
    : mpState(new BsdSocketState(type, -1, connectTimeout)) {}

namespace {
// A record over a descriptor handed in: whatever fails on the way (the record's
// memory, its wake descriptor), the descriptor is closed, never left open.
Base::SharedHandle<BsdSocketState> adopt(const BsdSocketType& type, int handle, unsigned int connectTimeout) {
    try {
        return Base::SharedHandle<BsdSocketState>(new BsdSocketState(type, handle, connectTimeout));
    } catch (...) {
        if (handle >= 0) ::close(handle);
        throw;
    }
}
}  // namespace

BsdSocket::BsdSocket(const BsdSocketType& type, int handle, unsigned int connectTimeout)
    : mpState(adopt(type, handle, connectTimeout)) {}

int BsdSocket::getHandle() const { return mpState->miHandle; }
bool BsdSocket::isBlocking() const { return mpState->mbBlocking; }
bool BsdSocket::hasConnection() const { return mpState->miHandle >= 0 && mpState->mbConnected; }
unsigned int BsdSocket::getConnectTimeout() const { return mpState->muConnectTimeout; }
void BsdSocket::setConnectTimeout(unsigned int ms) { mpState->muConnectTimeout = ms; }
BsdSocketType BsdSocket::getType() const {
    return BsdSocketType(mpState->miFamily, mpState->miType, mpState->miProtocol);
}

void BsdSocket::fail(bool closeOnError, const char* operation) { failWith(errno, closeOnError, operation); }

void BsdSocket::failWith(int error, bool closeOnError, const char* operation) {
    if (closeOnError && error != EAGAIN && error != EWOULDBLOCK) closeHandle();
    Base::String text;
    if (operation) text = mpState->msPeer.isEmpty() ? Base::String(operation) : operation + (" " + mpState->msPeer);
    IO::checkSystemError(error, text);
}

void BsdSocket::closeHandle() {
    BsdSocketState& state = *mpState;
    int handle = state.miHandle.exchange(-1);
    state.mbConnected = false;
    if (handle < 0) return;
    if (state.miUsers == 0) {
        ::close(handle);  // the result does not matter: the descriptor is gone either way
        return;
    }
    // Another thread is inside a call on it (a relay reads and writes one socket at
    // once): shut it down, which ends that call, and leave the close to the last user.
    ::shutdown(handle, SHUT_RDWR);
    closeParked(state);  // one left from an earlier close, if any
    state.miParked = handle;
    if (state.miUsers == 0) closeParked(state);
}

void BsdSocket::close() {
    if (mpState->miHandle >= 0) closeHandle();
}

void BsdSocket::ensureSocket() {
    if (mpState->miHandle >= 0) return;
    int handle = ::socket(mpState->miFamily, mpState->miType | SOCK_CLOEXEC, mpState->miProtocol);
    if (handle < 0) fail(true, "socket for");
    mpState->miHandle = handle;
    mpState->mbBlocking = true;
    mpState->mbConnected = false;
}

long BsdSocket::getAvailable() {
    InUse use(*mpState);
    int count = 0;
    if (::ioctl(mpState->miHandle, FIONREAD, &count) < 0) fail(true, "queue of");
    return count;
}

void BsdSocket::setBlockingMode(bool blocking) {
    int nonBlocking = blocking ? 0 : 1;
    if (::ioctl(mpState->miHandle, FIONBIO, &nonBlocking) < 0) fail(true, "blocking mode of");
    mpState->mbBlocking = blocking;
}

void BsdSocket::setBlocking(bool blocking) { setBlockingMode(blocking); }

bool BsdSocket::setNoDelay(bool on) {
    int handle = mpState->miHandle;
    const bool internet = mpState->miFamily == AF_INET || mpState->miFamily == AF_INET6;
    if (handle < 0 || !internet || mpState->miType != SOCK_STREAM) return false;
    int flag = on ? 1 : 0;
    return ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &flag, sizeof flag) == 0;
}

void BsdSocket::setFamily(std::int32_t family) {
    close();
    mpState->miFamily = family;
}

bool BsdSocket::setV6Only(bool on) {
    if (mpState->miFamily != AF_INET6) return false;
    ensureSocket();
    int flag = on ? 1 : 0;
    return ::setsockopt(mpState->miHandle, IPPROTO_IPV6, IPV6_V6ONLY, &flag, sizeof flag) == 0;
}

bool BsdSocket::takeWakeUp() { return mpState->mbWoken.exchange(false); }

void BsdSocket::wakeUp() {
    std::uint64_t one = 1;
    // A full counter means a wake-up is pending already; nothing else can fail here.
    [[maybe_unused]] ssize_t n = ::write(mpState->miWakeFd, &one, sizeof one);
}

int BsdSocket::pollWithWake(short events, unsigned int ms, short* revents) {
    InUse use(*mpState);
    pollfd fds[2] = {{mpState->miHandle, events, 0}, {mpState->miWakeFd, POLLIN, 0}};
    // A look (ms 0) is no wait: it leaves a pending wake-up for the wait that follows it,
    // as in "look for a caller, then accept" or "look for data, then read".
    const nfds_t count = ms == 0 ? 1 : 2;
    OS::StopWatch watch;
    for (;;) {
        int timeout = -1;
        if (ms != WaitForever) {
            unsigned int left = watch.getRemaining(ms);
            timeout = left > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(left);
        }
        int r = ::poll(fds, count, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -2;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(mpState->miWakeFd, &count, sizeof count);
            mpState->mbWoken = true;
            return -1;
        }
        if (revents) *revents = fds[0].revents;
        return r > 0 ? 1 : 0;
    }
}

bool BsdSocket::waitFor(unsigned int ms, EWaitKind kind, int* errorOut) {
    int ignored = 0;
    int& error = errorOut ? *errorOut : ignored;
    error = 0;
    if (mpState->miHandle < 0) throw IO::Exception(ErrNoSocket, ".", __LINE__, "wait on a socket that is not open");
    short revents = 0;
    int r;
    {
        BusyFlag waiting(mpState->mbWaiting);
        // poll leaves the blocking mode alone, so nothing has to be restored afterwards. It also
        // answers at once when bytes are queued: no byte count is asked before it.
        short events = kind == Connect ? POLLOUT : kind == Accept ? POLLIN : POLLIN | POLLRDHUP;
        r = pollWithWake(events, ms, &revents);
    }
    if (r == -2) failWith(errno, false, "wait on");
    if (r != 1) return false;  // time-out or wake-up
    const bool failed = revents & POLLERR;
    if (kind == Read) {
        // Bytes and no sign of an end: the common case needs nothing more.
        if (!(revents & (POLLRDHUP | POLLHUP | POLLERR))) return true;
        // The peer has closed or failed: what it sent before still counts.
        if (getAvailable() > 0) return true;
        throw IO::Exception(ErrReadEventNoData, ".", __LINE__,
                            "read event without data: the peer " + mpState->msPeer + " has closed");
    }
    if (kind == Connect || failed) {
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::getsockopt(mpState->miHandle, SOL_SOCKET, SO_ERROR, &soError, &length) < 0) soError = errno;
        error = soError;
    }
    return error == 0;
}

void BsdSocket::connect(const sockaddr* address, socklen_t length) {
    mpState->msPeer = describe(address, length);
    ensureSocket();
    bool wasBlocking = mpState->mbBlocking;
    bool timed = mpState->muConnectTimeout != 0;
    if (timed && wasBlocking) setBlockingMode(false);
    int code = 0;
    bool timedOut = false;
    if (::connect(mpState->miHandle, address, length) < 0) {
        code = errno;
        if (code == EINPROGRESS || code == EINTR) {
            // An interrupted blocking connect goes on in the background: wait for it as long as a
            // blocking connect would have.
            unsigned int ms = (code == EINTR && !timed) ? WaitForever : mpState->muConnectTimeout;
            timedOut = !waitFor(ms, Connect, &code) && code == 0;
        }
    }
    if (timed && wasBlocking) setBlockingMode(true);
    if (code != 0) IO::checkSystemError(code, "connect to " + mpState->msPeer);
    if (timedOut)
        throw Base::TimeoutException(".", __LINE__,
                                     "connect to " + mpState->msPeer + ": no answer within " +
                                         Base::String::fromUnsigned(mpState->muConnectTimeout) + " ms");
    mpState->mbConnected = true;
}

void BsdSocket::bind(const sockaddr* address, socklen_t length) {
    mpState->msPeer = describe(address, length);
    ensureSocket();
    if (mpState->miFamily == AF_INET || mpState->miFamily == AF_INET6) {
        // Must precede bind to take effect: a restarted server binds again at once while old
        // connections linger in TIME_WAIT. Linux still never lets two listeners share a port.
        int on = 1;
        ::setsockopt(mpState->miHandle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (::bind(mpState->miHandle, address, length) < 0) fail(true, "bind to");
    // From now on failures name the address as bound (a port 0 has become the one chosen).
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(mpState->miHandle, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0)
        mpState->msPeer = describe(reinterpret_cast<sockaddr*>(&bound), boundLength);
}

void BsdSocket::listen() {
    // SO_REUSEADDR was set in bind; a failed listen shows up at the first accept.
    [[maybe_unused]] int r = ::listen(mpState->miHandle, SOMAXCONN);
}

int BsdSocket::acceptHandle(sockaddr_storage& address, socklen_t& length) {
    const Base::String where = "accept on " + mpState->msPeer;
    if (mpState->miHandle < 0) IO::checkSystemError(EBADF, where);
    if (mpState->mbBlocking) {
        int r = pollWithWake(POLLIN, WaitForever, nullptr);
        if (r == -1) IO::checkSystemError(EINTR, where);
        if (r == -2) IO::checkSystemError(errno, where);
    }
    int handle;
    do {
        length = sizeof address;
        handle = ::accept4(mpState->miHandle, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) IO::checkSystemError(errno, where);
    return handle;
}

BsdSocket BsdSocket::accept() {
    sockaddr_storage address{};
    socklen_t length = 0;
    // An accepted socket starts blocking on Linux whatever the listener's mode; so does its record.
    BsdSocket connection(getType(), acceptHandle(address, length), 0);
    // A local caller has no name of its own: it is named by the pipe it called.
    Base::String peer = describe(reinterpret_cast<sockaddr*>(&address), length);
    connection.mpState->msPeer = peer.isEmpty() ? mpState->msPeer : peer;
    return connection;
}

// Refusing a caller on Linux: the kernel has completed the handshake before the
// server hears of the caller, so a refusal is an accept and an immediate reset.
//
//   caller                        listener (kernel)             server
//     SYN ------------------------->
//     <------------------------ SYN/ACK
//     ACK ------------------------->   queued
//                                      <-------------------- reject: accept,
//                                                            SO_LINGER {1, 0}, close
//     <------------------------ RST
//   recv/send: ECONNRESET
void BsdSocket::reject() {
    try {
        sockaddr_storage address{};
        socklen_t length = 0;
        int handle = acceptHandle(address, length);
        // Linux has completed the handshake already: closing with a zero linger sends a reset,
        // which is what a refused caller sees.
        linger reset{1, 0};
        ::setsockopt(handle, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(handle);
    } catch (const IO::SystemException&) {
        // no caller to refuse (non-blocking), or woken: nothing to report
    }
}

long BsdSocket::receive(char* buffer, long length) {
    ssize_t n;
    int error = 0;
    {
        InUse use(*mpState);
        BusyFlag reading(mpState->mbReading);
        int handle = mpState->miHandle;
        if (length == 0 || !mpState->mbBlocking) {
            do {
                n = ::recv(handle, buffer, static_cast<size_t>(length), 0);
            } while (n < 0 && errno == EINTR);
        } else {
            // Blocking read that wakeUp can end: take what is there, otherwise wait on the socket
            // and the wake descriptor together. A reader that is ahead of its writer (its last
            // read came back short) waits first and saves a recv that would find nothing; one
            // that is behind (a full read) takes what is queued straight away.
            bool waitFirst = mpState->mbReadWaited;
            for (;;) {
                if (waitFirst) {
                    int r = pollWithWake(POLLIN, WaitForever, nullptr);
                    if (r == -1) IO::checkSystemError(EINTR, "receive from " + mpState->msPeer);
                    if (r == -2) {
                        n = -1;
                        break;
                    }
                }
                n = ::recv(handle, buffer, static_cast<size_t>(length), MSG_DONTWAIT);
                if (n >= 0) break;
                if (errno == EINTR) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) break;
                waitFirst = true;
            }
            mpState->mbReadWaited = n >= 0 && n < length;
        }
        if (n < 0) error = errno;
    }
    if (n < 0) failWith(error, true, "receive from");
    if (n == 0 && length != 0) {
        closeHandle();  // the peer has closed the connection
        return 0;
    }
    return static_cast<long>(n);
}

long BsdSocket::send(const char* buffer, long length) {
    ssize_t n;
    int error = 0;
    {
        InUse use(*mpState);
        do {
            n = ::send(mpState->miHandle, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n < 0) error = errno;
    }
    if (n < 0) failWith(error, true, "send to");
    return static_cast<long>(n);
}

bool BsdSocket::isConnected() {
    InUse use(*mpState);
    int handle = mpState->miHandle;
    if (handle < 0) return false;
    if (!mpState->mbConnected) {
        closeHandle();  // created by a connect that failed: nothing to keep
        return false;
    }
    // A send on another thread does not count: the probe below is safe beside it (a close
    // waits for the send to end), and a peer that has gone must be seen while one is blocked.
    if (mpState->mbWaiting || mpState->mbReading) return true;
    if (getAvailable() > 0) return true;
    // MSG_DONTWAIT probes without switching the socket's mode back and forth.
    char c;
    ssize_t n = ::recv(handle, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return true;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    closeHandle();
    return false;
}

}  // namespace Net
