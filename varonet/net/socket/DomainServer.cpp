// The named local pipe server: one listener per name, waits and accepts that a wake-up ends.
#include <varonet/net/socket/DomainServer.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/detail/BsdSocket.h>

namespace Net {

namespace {
constexpr unsigned int WaitForever = 0xFFFFFFFFu;
constexpr BsdSocketType LocalStream(AF_UNIX, SOCK_STREAM, 0);
}  // namespace

struct DomainServerState : Base::Reference {
    explicit DomainServerState(const Base::String& name) : mListener(LocalStream, 0), msName(name) {}
    ~DomainServerState() {
        mListener.close();
        if (!msPath.isEmpty()) ::unlink(msPath.c_str());
        if (miLockFd >= 0) ::close(miLockFd);  // frees the name for the next server
    }

    BsdSocket mListener;  // the "pipe instance" every caller connects to
    bool mbBlocking = true;
    Base::String msName;
    Base::String msPath;  // the socket file, removed with the last copy
    int miLockFd = -1;    // holds an flock on PATH.lock while the server lives
};

DomainServer::DomainServer(const Base::String& name) {
    sockaddr_un address;
    socklen_t length = DomainAddress::toSockAddr(name, address);
    DomainAddress::ensureDirectory();
    // Whatever fails below, the record (lock, socket, socket file) goes with the handle.
    Base::SharedHandle<DomainServerState> state(new DomainServerState(name));
    // The lock, not the socket file, says whether the name is in use: a file left
    // behind by a process that died is stale and is replaced.
    Base::String lockPath = DomainAddress::getPath(name) + ".lock";
    state->miLockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (state->miLockFd < 0)
        throw IO::Exception(ErrPipeCreate, ".", __LINE__, "pipe lock " + lockPath + ": " + std::strerror(errno));
    if (::flock(state->miLockFd, LOCK_EX | LOCK_NB) < 0)
        throw IO::Exception(ErrPipeCreate, ".", __LINE__, "pipe name in use: " + name);
    Base::String path = DomainAddress::getPath(name);
    ::unlink(path.c_str());
    try {
        state->mListener.bind(reinterpret_cast<const sockaddr*>(&address), length);
    } catch (const IO::SystemException& e) {
        throw IO::Exception(ErrPipeCreate, ".", __LINE__, Base::String("pipe ") + name + ": " + e.what());
    }
    state->msPath = path;
    state->mListener.listen();
    mpState = std::move(state);
}

DomainServer::DomainServer(const DomainServer& other) : IO::DeviceServer(), mpState(other.mpState) {
    IO::DeviceServer::setBlocking(mpState->mbBlocking);
}

DomainServer& DomainServer::operator=(const DomainServer& other) {
    mpState = other.mpState;
    IO::DeviceServer::setBlocking(mpState->mbBlocking);
    return *this;
}

DomainServer::~DomainServer() = default;

void DomainServer::setBlocking(bool blocking) {
    mpState->mbBlocking = blocking;
    IO::DeviceServer::setBlocking(blocking);
}

bool DomainServer::waitForConnection(unsigned int ms) {
    int r = mpState->mListener.pollWithWake(POLLIN, ms, nullptr);
    if (r == -2) throw IO::Exception(ErrPipeConnectionWait, ".", __LINE__, "waiting for a pipe caller failed");
    return r == 1;
}

IO::Device* DomainServer::acceptInternal() {
    if (mpState->mbBlocking) {
        if (!waitForConnection(WaitForever))
            throw Base::Exception(ErrPipeAcceptWait, ".", __LINE__, "pipe accept ended without a caller");
    } else if (!waitForConnection(0)) {
        IO::checkSystemError(EWOULDBLOCK, "accept on pipe " + mpState->msName);
    }
    // The listener stays, so the next caller can connect at once.
    BsdSocket connection = mpState->mListener.accept();
    return new DomainDevice(connection);
}

void DomainServer::wakeUp() { mpState->mListener.wakeUp(); }

const Base::String& DomainServer::getPipeName() const { return mpState->msName; }

}  // namespace Net
