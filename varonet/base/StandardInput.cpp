#include <varonet/base/StandardInput.h>

#include <unistd.h>

namespace IO {

StandardInput::StandardInput() : mFile(STDIN_FILENO, false) {}

StandardInput* StandardInput::getInstance() {
    static StandardInput instance;
    return &instance;
}

long StandardInput::size() { return mFile.available(); }
bool StandardInput::waitForData(unsigned int ms) { return mFile.waitReadable(ms); }

long StandardInput::readInternal(char* buffer, long length) {
    long n = mFile.read(buffer, length);
    if (length > 0) mbEOF = n == 0;
    return n;
}

StandardOutput::StandardOutput() : mFile(STDOUT_FILENO, false) {}

StandardOutput* StandardOutput::getInstance() {
    static StandardOutput instance;
    return &instance;
}

}  // namespace IO
