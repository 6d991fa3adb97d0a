// File devices: each open mode becomes its open(2) flags; reads, writes and positions go to the open file.
#include <varonet/base/File.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/base/detail/FileInternal.h>

namespace IO {

File::File(const Base::String& path, EOpenMode mode, bool truncate, unsigned int createMode)
    : msPath(path), meMode(mode), mbTruncate(truncate), muCreateMode(createMode),
      mpFile(std::make_unique<FileInternal>()) {}

File::~File() = default;

bool File::isOpen() { return mpFile->isOpen(); }
void File::close() { mpFile->close(); }
void File::flush() { mpFile->sync(); }

void File::open() {
    if (mpFile->isOpen()) return;
    int flags = O_RDONLY;
    if (meMode == ReadWrite) flags = O_RDWR | O_CREAT;
    else if (meMode == Write) flags = O_WRONLY | O_CREAT | (mbTruncate ? O_TRUNC : O_APPEND);
    mpFile->openPath(msPath, flags, muCreateMode);
    // A folder opens for reading, and only the first read would fail: refuse it here.
    struct stat status {};
    if (::fstat(mpFile->getHandle(), &status) == 0 && S_ISDIR(status.st_mode)) {
        mpFile->close();
        checkSystemError(EISDIR, "open " + msPath);
    }
}

FileInternal& File::openFile() {
    if (!mpFile->isOpen()) throw Exception(ErrNotOpen, ".", __LINE__, "file not open: " + msPath);
    return *mpFile;
}

long File::size() { return mpFile->isOpen() && meMode != Write ? openFile().available() : 0; }
long File::readInternal(char* buffer, long length) { return openFile().read(buffer, length); }
long File::write(const char* buffer, long length) { return openFile().write(buffer, length); }
void File::seek(long long position) { openFile().seek(position); }
long long File::getPosition() { return openFile().getPosition(); }
long long File::getLength() { return openFile().getLength(); }

}  // namespace IO
