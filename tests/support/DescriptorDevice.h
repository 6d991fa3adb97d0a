#pragma once
// DescriptorDevice: an IO::Device over one end of a socket pair, pipe or pty,
// for tests that put a real kernel byte stream under a protocol.
// SocketPair: two connected AF_UNIX stream sockets.

#include <memory>

#include <varonet/base/Device.h>

namespace IO {
class FileInternal;
}

namespace TestSupport {

class DescriptorDevice : public IO::Device {
public:
    /// Adopts fd; with owns true it is closed with the device.
    DescriptorDevice(int fd, bool owns);
    ~DescriptorDevice() override;

    bool isOpen() override;
    void open() override {}
    void close() override;
    Base::String getName() override { return "descriptor:"; }
    long size() override;
    /// True once a read met the end of the stream, or the peer hung up with nothing left.
    bool isEOF() override;
    bool waitForData(unsigned int ms) override;
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    bool isReliable() override { return true; }
    int getHandle() const;

private:
    std::unique_ptr<IO::FileInternal> mpFile;
    bool mbEOF = false;
};

struct SocketPair {
    /// Also makes a peer that has gone show as a failed write (EPIPE), not a signal.
    SocketPair();
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    /// Hands end i over: the caller closes it from now on.
    int take(int i);

    int fd[2] = {-1, -1};
};

}  // namespace TestSupport
