#include <varonet/net/socket/DomainDevice.h>

#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/SocketErrors.h>

namespace Net {

namespace {
constexpr BsdSocketType LocalStream(AF_UNIX, SOCK_STREAM, 0);
}

DomainDevice::DomainDevice(const Base::String& name)
    : IO::UnreliableDevice(0), mSocket(LocalStream, 0), msPath(name) {}

DomainDevice::DomainDevice(const BsdSocket& connection)
    : IO::UnreliableDevice(0), mSocket(connection), msPath("") {}

void DomainDevice::open() {
    if (mSocket.hasConnection()) return;
    sockaddr_un address;
    socklen_t length = DomainAddress::toSockAddr(msPath, address);
    mSocket.close();  // a socket left over from a failed attempt
    mSocket.connect(reinterpret_cast<const sockaddr*>(&address), length);
}

bool DomainDevice::isOpen() { return mSocket.hasConnection(); }
void DomainDevice::close() { mSocket.close(); }
Base::String DomainDevice::getName() { return "domain:" + msPath; }

bool DomainDevice::isPeerGone() {
    pollfd p{mSocket.getHandle(), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

long DomainDevice::size() {
    int count = 0;
    if (::ioctl(mSocket.getHandle(), FIONREAD, &count) < 0) IO::checkSystemError(errno, getName());
    if (count == 0 && isPeerGone()) {
        // The other end has gone: what a broken pipe is. Close first, then say so.
        mSocket.close();
        IO::checkSystemError(EPIPE, getName() + ": the other end has gone");
    }
    return count;
}

bool DomainDevice::isEOF() {
    if (!isOpen()) return true;
    int count = 0;
    if (::ioctl(mSocket.getHandle(), FIONREAD, &count) == 0 && count > 0) return false;
    return isPeerGone();
}

// The end of the stream counts as something to read: size or a read tells which
// it is, and only they close the device. A wait may run on one thread while
// another writes (a relay does so), and must not close the descriptor under it.
bool DomainDevice::waitForData(unsigned int ms) {
    if (mSocket.getHandle() < 0) IO::checkSystemError(EBADF, getName());
    int r = mSocket.pollWithWake(POLLIN | POLLRDHUP, ms, nullptr);
    if (r == -2) throw IO::Exception(ErrPipeDataWait, ".", __LINE__, "waiting for pipe data failed");
    return r == 1;
}

long DomainDevice::readInternal(char* buffer, long length) { return mSocket.receive(buffer, length); }

long DomainDevice::write(const char* buffer, long length) {
    long done = 0;
    while (done < length) done += mSocket.send(buffer + done, length - done);
    return done;
}

void DomainDevice::wakeUp() { mSocket.wakeUp(); }

}  // namespace Net
