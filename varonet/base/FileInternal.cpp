// Unix bodies for the descriptor layer.
#include <varonet/base/detail/FileInternal.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include <varonet/base/IOException.h>

namespace IO {

void FileInternal::openPath(const Base::String& path, int flags, unsigned int mode) {
    close();
    if (path.find('\0') >= 0) checkSystemError(EINVAL, "open " + path);
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throwLastSystemError("open " + path);
    miFd = fd;
    mbOwns = true;
    miSocket = -1;
}

void FileInternal::close() {
    if (miFd >= 0 && mbOwns) ::close(miFd);
    miFd = -1;
    miSocket = -1;
}

long FileInternal::read(char* buffer, long length) {
    if (miFd < 0) checkSystemError(EBADF, "read");
    ssize_t n;
    do {
        n = ::read(miFd, buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    if (n < 0) throwLastSystemError("read");
    return static_cast<long>(n);
}

long FileInternal::write(const char* buffer, long length) {
    if (miFd < 0) checkSystemError(EBADF, "write");
    if (miSocket < 0) {
        struct stat st {};
        miSocket = ::fstat(miFd, &st) == 0 && S_ISSOCK(st.st_mode) ? 1 : 0;
    }
    long done = 0;
    while (done < length) {
        // A socket whose peer has gone must report EPIPE, not raise SIGPIPE.
        ssize_t n = miSocket ? ::send(miFd, buffer + done, static_cast<size_t>(length - done), MSG_NOSIGNAL)
                             : ::write(miFd, buffer + done, static_cast<size_t>(length - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd p{miFd, POLLOUT, 0};
                ::poll(&p, 1, 1000);
                continue;
            }
            throwLastSystemError("write");
        }
        done += n;
    }
    return done;
}

bool FileInternal::waitReadable(unsigned int ms) {
    if (miFd < 0) checkSystemError(EBADF, "poll");
    pollfd p{miFd, POLLIN, 0};
    int timeout = ms > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
    for (;;) {
        int r = ::poll(&p, 1, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throwLastSystemError("poll");
        return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
    }
}

bool FileInternal::isRegularFile() {
    struct stat st {};
    return miFd >= 0 && ::fstat(miFd, &st) == 0 && S_ISREG(st.st_mode);
}

long FileInternal::available() {
    if (miFd < 0) checkSystemError(EBADF, "available");
    if (isRegularFile()) {
        long long left = getLength() - getPosition();
        return left > LONG_MAX ? LONG_MAX : static_cast<long>(left < 0 ? 0 : left);
    }
    int n = 0;
    if (::ioctl(miFd, FIONREAD, &n) < 0) return 0;
    return n;
}

long long FileInternal::seek(long long position) {
    off_t r = ::lseek(miFd, static_cast<off_t>(position), SEEK_SET);
    if (r < 0) throwLastSystemError("seek");
    return r;
}

long long FileInternal::getPosition() {
    off_t r = ::lseek(miFd, 0, SEEK_CUR);
    if (r < 0) throwLastSystemError("seek");
    return r;
}

long long FileInternal::getLength() {
    struct stat st {};
    if (::fstat(miFd, &st) < 0) throwLastSystemError("stat");
    return st.st_size;
}

void FileInternal::setNonBlocking(bool nonBlocking) {
    int flags = ::fcntl(miFd, F_GETFL);
    if (flags < 0) throwLastSystemError("fcntl");
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(miFd, F_SETFL, flags) < 0) throwLastSystemError("fcntl");
}

void FileInternal::sync() {
    if (miFd >= 0) ::fsync(miFd);
}

}  // namespace IO
