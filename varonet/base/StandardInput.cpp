// The process's standard input and output as devices.
#include <varonet/base/StandardInput.h>

#include <unistd.h>

#include <varonet/base/detail/FileInternal.h>

namespace IO {

StandardInput::StandardInput() : mpFile(std::make_unique<FileInternal>(STDIN_FILENO, false)) {}
StandardInput::~StandardInput() = default;

StandardInput* StandardInput::getInstance() {
    static StandardInput instance;
    return &instance;
}

long StandardInput::size() { return mpFile->available(); }
bool StandardInput::waitForData(unsigned int ms) { return mpFile->waitReadable(ms); }

long StandardInput::readInternal(char* buffer, long length) {
    long n = mpFile->read(buffer, length);
    if (length > 0) mbEOF = n == 0;
    return n;
}

StandardOutput::StandardOutput() : mpFile(std::make_unique<FileInternal>(STDOUT_FILENO, false)) {}
StandardOutput::~StandardOutput() = default;

long StandardOutput::write(const char* buffer, long length) { return mpFile->write(buffer, length); }

StandardOutput* StandardOutput::getInstance() {
    static StandardOutput instance;
    return &instance;
}

}  // namespace IO
