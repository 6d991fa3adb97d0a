#pragma once
// IO::File: a file on disk as a device.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace IO {

class FileInternal;

class VARONET_API File : public Device {
public:
    enum EOpenMode { ReadOnly = 0, ReadWrite = 1, Write = 2 };

    /// Nothing is opened yet. ReadOnly needs the file to exist; ReadWrite and
    /// Write create it (mode 0666 less the umask, or createMode). Write with
    /// truncate true empties it, with false appends to it.
    File(const Base::String& path, EOpenMode mode, bool truncate = false, unsigned int createMode = 0666);
    ~File() override;

    bool isOpen() override;
    /// Throws IO::SystemException with errno when the file cannot be opened.
    void open() override;
    void close() override;
    Base::String getName() override { return msPath; }

    /// Bytes from the position to the end.
    long size() override;
    bool isEOF() override { return size() == 0; }
    /// A file never waits: true when bytes are left.
    bool waitForData(unsigned int) override { return size() > 0; }
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using OutputDevice::write;
    void flush() override;
    bool isReliable() override { return true; }

    void seek(long long position);
    long long getPosition();
    long long getLength();
    EOpenMode getMode() const { return meMode; }
    bool isTruncating() const { return mbTruncate; }
    const Base::String& getPath() const { return msPath; }

private:
    FileInternal& openFile();

    Base::String msPath;
    EOpenMode meMode;
    bool mbTruncate;
    unsigned int muCreateMode;
    std::unique_ptr<FileInternal> mpFile;
};

}  // namespace IO
