#pragma once
// IO::FileInternal: one open file descriptor and the system calls on it.
// Every other base class that touches a descriptor goes through this one.

#include <varonet/base/String.h>

namespace IO {

class FileInternal {
public:
    FileInternal() = default;
    /// Adopts an open descriptor; with owns false it is never closed here.
    FileInternal(int fd, bool owns) : miFd(fd), mbOwns(owns) {}
    FileInternal(const FileInternal&) = delete;
    FileInternal& operator=(const FileInternal&) = delete;
    ~FileInternal() { close(); }

    /// open(2) with flags and mode; throws IO::SystemException.
    void openPath(const Base::String& path, int flags, unsigned int mode = 0666);
    bool isOpen() const { return miFd >= 0; }
    int getHandle() const { return miFd; }
    void close();

    /// One read(2), retried on EINTR; 0 at end of file. Throws on failure
    /// (IO::WouldBlockException on a non-blocking descriptor with nothing to read).
    long read(char* buffer, long length);
    /// Writes everything, waiting for room on a non-blocking descriptor. On a
    /// socket a vanished peer gives EPIPE rather than SIGPIPE.
    long write(const char* buffer, long length);
    /// poll(2) for input (or hang-up) up to ms milliseconds; 0 only looks.
    bool waitReadable(unsigned int ms);
    /// Bytes readable without blocking: FIONREAD, or what is left of a regular file.
    long available();
    bool isRegularFile();
    long long seek(long long position);
    long long getPosition();
    long long getLength();
    void setNonBlocking(bool nonBlocking);
    void sync();

private:
    int miFd = -1;
    bool mbOwns = true;
    int miSocket = -1;  // whether the descriptor is a socket; -1 until the first write asks
};

}  // namespace IO
