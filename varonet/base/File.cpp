#include <varonet/base/File.h>

#include <fcntl.h>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>

namespace IO {

File::File(const Base::String& path, EOpenMode mode, bool truncate, unsigned int createMode)
    : msPath(path), meMode(mode), mbTruncate(truncate), muCreateMode(createMode) {}

void File::open() {
    if (mFile.isOpen()) return;
    int flags = O_RDONLY;
    if (meMode == ReadWrite) flags = O_RDWR | O_CREAT;
    else if (meMode == Write) flags = O_WRONLY | O_CREAT | (mbTruncate ? O_TRUNC : O_APPEND);
    mFile.openPath(msPath, flags, muCreateMode);
}

FileInternal& File::openFile() {
    if (!mFile.isOpen()) throw Exception(ErrNotOpen, ".", __LINE__, "file not open: " + msPath);
    return mFile;
}

long File::size() { return mFile.isOpen() && meMode != Write ? openFile().available() : 0; }
long File::readInternal(char* buffer, long length) { return openFile().read(buffer, length); }
long File::write(const char* buffer, long length) { return openFile().write(buffer, length); }
void File::seek(long long position) { openFile().seek(position); }
long long File::getPosition() { return openFile().getPosition(); }
long long File::getLength() { return openFile().getLength(); }

}  // namespace IO
