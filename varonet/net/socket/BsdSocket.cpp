// Unix bodies of the socket layer: every socket system call of the library
// is made in this file or in DomainServer.cpp / DomainDevice.cpp.
#include <varonet/net/socket/BsdSocket.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/SocketErrors.h>

namespace Net {

namespace {
constexpr unsigned int WaitForever = 0xFFFFFFFFu;

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
}  // namespace

BsdSocketState::BsdSocketState(const BsdSocketType& type, int handle, unsigned int connectTimeout)
    : mbConnected(handle >= 0), miHandle(handle), miFamily(type.getFamily()), miType(type.getType()),
      miProtocol(type.getProtocol()), muConnectTimeout(connectTimeout) {
    miWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (miWakeFd < 0) {
        int error = errno;
        if (handle >= 0) ::close(handle);
        IO::checkSystemError(error, "eventfd");
    }
}

BsdSocketState::~BsdSocketState() {
    int handle = miHandle.load();
    if (handle >= 0) ::close(handle);
    ::close(miWakeFd);
}

BsdSocket::BsdSocket(const BsdSocketType& type, unsigned int connectTimeout)
    : BsdSocket(new BsdSocketState(type, -1, connectTimeout)) {}

BsdSocket::BsdSocket(const BsdSocketType& type, int handle, unsigned int connectTimeout)
    : BsdSocket(new BsdSocketState(type, handle, connectTimeout)) {}

BsdSocket::BsdSocket(BsdSocketState* state) : mpState(state) { ++mpState->miRefCount; }

BsdSocket::BsdSocket(const BsdSocket& other) : mpState(other.mpState) { ++mpState->miRefCount; }

BsdSocket& BsdSocket::operator=(const BsdSocket& other) {
    if (other.mpState != mpState) {
        release();
        mpState = other.mpState;
        ++mpState->miRefCount;
    }
    return *this;
}

BsdSocket::~BsdSocket() { release(); }

void BsdSocket::release() {
    if (mpState->miRefCount > 0 && --mpState->miRefCount == 0) {
        delete mpState;  // closes the socket
        mpState = nullptr;
    }
}

int BsdSocket::getHandle() const { return mpState->miHandle; }
bool BsdSocket::isBlocking() const { return mpState->mbBlocking; }
bool BsdSocket::hasConnection() const { return mpState->miHandle >= 0 && mpState->mbConnected; }
unsigned int BsdSocket::getConnectTimeout() const { return mpState->muConnectTimeout; }
void BsdSocket::setConnectTimeout(unsigned int ms) { mpState->muConnectTimeout = ms; }
BsdSocketType BsdSocket::getType() const {
    return BsdSocketType(mpState->miFamily, mpState->miType, mpState->miProtocol);
}

void BsdSocket::fail(bool closeOnError) { failWith(errno, closeOnError); }

void BsdSocket::failWith(int error, bool closeOnError) {
    if (closeOnError && error != EAGAIN && error != EWOULDBLOCK) closeHandle();
    IO::checkSystemError(error, "");
}

void BsdSocket::closeHandle() {
    int handle = mpState->miHandle.exchange(-1);
    if (handle >= 0) ::close(handle);  // the result does not matter: the descriptor is gone either way
    mpState->mbConnected = false;
}

void BsdSocket::close() {
    if (mpState->miHandle >= 0) closeHandle();
}

void BsdSocket::ensureSocket() {
    if (mpState->miHandle >= 0) return;
    int handle = ::socket(mpState->miFamily, mpState->miType | SOCK_CLOEXEC, mpState->miProtocol);
    if (handle < 0) fail(true);
    mpState->miHandle = handle;
    mpState->mbBlocking = true;
    mpState->mbConnected = false;
}

long BsdSocket::getAvailable() {
    int count = 0;
    if (::ioctl(mpState->miHandle, FIONREAD, &count) < 0) fail(true);
    return count;
}

void BsdSocket::setBlockingMode(bool blocking) {
    int nonBlocking = blocking ? 0 : 1;
    if (::ioctl(mpState->miHandle, FIONBIO, &nonBlocking) < 0) fail(true);
    mpState->mbBlocking = blocking;
}

void BsdSocket::setBlocking(bool blocking) { setBlockingMode(blocking); }

void BsdSocket::wakeUp() {
    std::uint64_t one = 1;
    // A full counter means a wake-up is pending already; nothing else can fail here.
    [[maybe_unused]] ssize_t n = ::write(mpState->miWakeFd, &one, sizeof one);
}

int BsdSocket::pollWithWake(short events, unsigned int ms, short* revents) {
    pollfd fds[2] = {{mpState->miHandle, events, 0}, {mpState->miWakeFd, POLLIN, 0}};
    OS::StopWatch watch;
    for (;;) {
        int timeout = -1;
        if (ms != WaitForever) {
            unsigned int left = watch.getRemaining(ms);
            timeout = left > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(left);
        }
        int r = ::poll(fds, 2, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -2;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(mpState->miWakeFd, &count, sizeof count);
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
    if (mpState->miHandle < 0) throw IO::Exception(ErrNoSocket, ".", __LINE__);
    bool timedOut;
    {
        BusyFlag waiting(mpState->mbWaiting);
        // poll leaves the blocking mode alone, so nothing has to be restored afterwards.
        // A listening socket has no byte count (FIONREAD fails on it): an accept always waits.
        long queued = kind == Accept ? 0 : getAvailable();
        if (queued == 0) {
            short revents = 0;
            int r = pollWithWake(kind == Connect ? POLLOUT : POLLIN, ms, &revents);
            if (r == -2) failWith(errno, false);
            timedOut = r != 1;
            if (!timedOut && (kind == Connect || (revents & POLLERR))) {
                int soError = 0;
                socklen_t length = sizeof soError;
                if (::getsockopt(mpState->miHandle, SOL_SOCKET, SO_ERROR, &soError, &length) < 0) soError = errno;
                error = soError;
            }
        } else {
            timedOut = false;
        }
    }
    if (timedOut) return false;
    if (kind == Read && getAvailable() == 0)
        throw IO::Exception(ErrReadEventNoData, ".", __LINE__, "read event without data: the peer has closed");
    return error == 0;
}

void BsdSocket::connect(const sockaddr* address, socklen_t length) {
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
    if (code != 0) IO::checkSystemError(code, "");
    if (timedOut) throw Base::TimeoutException(".", __LINE__, "connect time-out");
    mpState->mbConnected = true;
}

void BsdSocket::bind(const sockaddr* address, socklen_t length) {
    ensureSocket();
    if (mpState->miFamily == AF_INET) {
        // Must precede bind to take effect: a restarted server binds again at once while old
        // connections linger in TIME_WAIT. Linux still never lets two listeners share a port.
        int on = 1;
        ::setsockopt(mpState->miHandle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (::bind(mpState->miHandle, address, length) < 0) fail(true);
}

void BsdSocket::listen() {
    // SO_REUSEADDR was set in bind; a failed listen shows up at the first accept.
    [[maybe_unused]] int r = ::listen(mpState->miHandle, SOMAXCONN);
}

int BsdSocket::acceptHandle() {
    if (mpState->miHandle < 0) IO::checkSystemError(EBADF, "");
    if (mpState->mbBlocking) {
        int r = pollWithWake(POLLIN, WaitForever, nullptr);
        if (r == -1) IO::checkSystemError(EINTR, "");
        if (r == -2) IO::checkSystemError(errno, "");
    }
    int handle;
    do {
        handle = ::accept4(mpState->miHandle, nullptr, nullptr, SOCK_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) IO::checkSystemError(errno, "");
    return handle;
}

BsdSocket BsdSocket::accept() {
    int handle = acceptHandle();
    // An accepted socket starts blocking on Linux whatever the listener's mode; so does its record.
    BsdSocketState* state = new BsdSocketState(getType(), handle, 0);
    return BsdSocket(state);
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
        int handle = acceptHandle();
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
                    if (r == -1) IO::checkSystemError(EINTR, "");
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
    if (n < 0) failWith(error, true);
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
        BusyFlag writing(mpState->mbWriting);
        do {
            n = ::send(mpState->miHandle, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n < 0) error = errno;
    }
    if (n < 0) failWith(error, true);
    return static_cast<long>(n);
}

bool BsdSocket::isConnected() {
    int handle = mpState->miHandle;
    if (handle < 0) return false;
    if (!mpState->mbConnected) {
        closeHandle();  // created by a connect that failed: nothing to keep
        return false;
    }
    if (mpState->mbWaiting || mpState->mbWriting || mpState->mbReading) return true;
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
