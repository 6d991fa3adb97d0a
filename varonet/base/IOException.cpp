// errno values become exceptions here, and nowhere else: IO::checkSystemError and its texts.
#include <varonet/base/IOException.h>

#include <cerrno>
#include <cstring>

namespace IO {

SystemException::SystemException(int error, const Base::String& text)
    : Exception(static_cast<unsigned int>(error), ".", 0, text) {
    setWhat((text.isEmpty() ? std::string() : text.str() + ": ") + std::strerror(error) + " (errno " +
            std::to_string(error) + ")");
}

void checkSystemError(int error, const Base::String& text) {
    if (error == 0) error = EIO;  // never return: a caller that got here has failed
    if (error == EAGAIN || error == EWOULDBLOCK) throw WouldBlockException(error, text);
    throw SystemException(error, text);
}

void throwLastSystemError(const Base::String& text) { checkSystemError(errno, text); }

}  // namespace IO
