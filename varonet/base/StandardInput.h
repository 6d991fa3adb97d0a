#pragma once
// IO::StandardInput and IO::StandardOutput: the process's standard streams.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace IO {

class FileInternal;

class VARONET_API StandardInput : public Device {
public:
    /// The one instance for the process.
    static StandardInput* getInstance();

    bool isOpen() override { return true; }
    void open() override {}
    void close() override {}
    Base::String getName() override { return "stdin"; }
    long size() override;
    bool isEOF() override { return mbEOF; }
    bool waitForData(unsigned int ms) override;
    /// Blocks until input comes; 0 at the end of input.
    long readInternal(char* buffer, long length) override;
    long write(const char*, long) override { return 0; }
    using OutputDevice::write;

private:
    StandardInput();
    ~StandardInput() override;
    std::unique_ptr<FileInternal> mpFile;
    bool mbEOF = false;
};

class VARONET_API StandardOutput : public Device {
public:
    static StandardOutput* getInstance();

    bool isOpen() override { return true; }
    void open() override {}
    void close() override {}
    Base::String getName() override { return "stdout"; }
    long size() override { return 0; }
    bool isEOF() override { return true; }
    bool waitForData(unsigned int) override { return false; }
    long readInternal(char*, long) override { return 0; }
    long write(const char* buffer, long length) override;
    using OutputDevice::write;

private:
    StandardOutput();
    ~StandardOutput() override;
    std::unique_ptr<FileInternal> mpFile;
};

}  // namespace IO
