// A local pipe to a named server: connecting by name, and telling a gone peer from a quiet one.
#include <varonet/net/socket/DomainDevice.h>

#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/detail/BsdSocket.h>

namespace Net {

namespace {
constexpr BsdSocketType LocalStream(AF_UNIX, SOCK_STREAM, 0);
}

DomainDevice::DomainDevice(const Base::String& name)
    : IO::UnreliableDevice(0), mpSocket(std::make_unique<BsdSocket>(LocalStream, 0)), msPath(name) {}

DomainDevice::DomainDevice(const BsdSocket& connection)
    : IO::UnreliableDevice(0), mpSocket(std::make_unique<BsdSocket>(connection)), msPath("") {}

DomainDevice::DomainDevice(const DomainDevice& other)
    : IO::CommonDevice(other), IO::UnreliableDevice(other), mpSocket(std::make_unique<BsdSocket>(*other.mpSocket)),
      msPath(other.msPath) {}

DomainDevice& DomainDevice::operator=(const DomainDevice& other) {
    if (this != &other) {
        IO::UnreliableDevice::operator=(other);
        *mpSocket = *other.mpSocket;
        msPath = other.msPath;
    }
    return *this;
}

DomainDevice::~DomainDevice() = default;

void DomainDevice::open() {
    if (mpSocket->hasConnection()) return;
    sockaddr_un address;
    socklen_t length = DomainAddress::toSockAddr(msPath, address);
    mpSocket->close();  // a socket left over from a failed attempt
    mpSocket->connect(reinterpret_cast<const sockaddr*>(&address), length);
}

bool DomainDevice::isOpen() { return mpSocket->hasConnection(); }
void DomainDevice::close() { mpSocket->close(); }
Base::String DomainDevice::getName() { return "domain:" + msPath; }

bool DomainDevice::isPeerGone() {
    pollfd p{mpSocket->getHandle(), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

long DomainDevice::size() {
    int count = 0;
    if (::ioctl(mpSocket->getHandle(), FIONREAD, &count) < 0) IO::checkSystemError(errno, getName());
    if (count == 0 && isPeerGone()) {
        // The other end has gone: what a broken pipe is. Close first, then say so.
        mpSocket->close();
        IO::checkSystemError(EPIPE, getName() + ": the other end has gone");
    }
    return count;
}

bool DomainDevice::isEOF() {
    if (!isOpen()) return true;
    int count = 0;
    if (::ioctl(mpSocket->getHandle(), FIONREAD, &count) == 0 && count > 0) return false;
    return isPeerGone();
}

// The end of the stream counts as something to read: size or a read tells which
// it is, and only they close the device. A wait may run on one thread while
// another writes (a relay does so), and must not close the descriptor under it.
bool DomainDevice::waitForData(unsigned int ms) {
    if (mpSocket->getHandle() < 0) IO::checkSystemError(EBADF, getName());
    int r = mpSocket->pollWithWake(POLLIN | POLLRDHUP, ms, nullptr);
    if (r == -2) throw IO::Exception(ErrPipeDataWait, ".", __LINE__, "waiting for pipe data failed");
    return r == 1;
}

long DomainDevice::readInternal(char* buffer, long length) { return mpSocket->receive(buffer, length); }

long DomainDevice::write(const char* buffer, long length) {
    long done = 0;
    while (done < length) done += mpSocket->send(buffer + done, length - done);
    return done;
}

void DomainDevice::wakeUp() { mpSocket->wakeUp(); }

}  // namespace Net
