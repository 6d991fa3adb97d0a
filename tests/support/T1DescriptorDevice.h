#pragma once
// T1DescriptorDevice: an IO::Device over one end of a socketpair or pty,
// for tests that put a real kernel byte stream under the T=1 protocol.

#include <varonet/base/Device.h>
#include <varonet/base/FileInternal.h>

class T1DescriptorDevice : public IO::Device {
public:
    /// Adopts fd; with owns true it is closed with the device.
    T1DescriptorDevice(int fd, bool owns);

    bool isOpen() override { return mFile.isOpen(); }
    void open() override {}
    void close() override { mFile.close(); }
    Base::String getName() override { return "descriptor:"; }

    long size() override { return mFile.available(); }
    /// True once a read met the end of the stream, or the peer hung up with nothing left.
    bool isEOF() override;
    bool waitForData(unsigned int ms) override { return mFile.waitReadable(ms); }
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override { return mFile.write(buffer, length); }
    using IO::OutputDevice::write;
    bool isReliable() override { return true; }

private:
    IO::FileInternal mFile;
    bool mbEOF = false;
};
