// The library's exceptions: a code, the raising site and a text.
#include <varonet/base/Exception.h>

namespace Base {

Exception::Exception(unsigned int code, const String& file, int line, const String& text)
    : muCode(code), msFile(file), miLine(line), msText(text) {
    msWhat = "error " + std::to_string(code);
    if (!text.isEmpty()) msWhat += ": " + text.str();
}

TimeoutException::TimeoutException(const String& file, int line, const String& text)
    : Exception(ErrTimeout, file, line, text.isNull() ? String("time-out") : text) {}

}  // namespace Base
