#pragma once
// IO::Exception and friends, and the one place where errno becomes an exception.

#include <varonet/base/Exception.h>
#include <varonet/base/Export.h>

namespace IO {

/// A failure of a device or server (the library's own codes).
class VARONET_API Exception : public Base::Exception {
public:
    using Base::Exception::Exception;
};

/// A failure reported by the operating system; the code is the errno value.
class VARONET_API SystemException : public Exception {
public:
    SystemException(int error, const Base::String& text);
    bool isSystemError() const override { return true; }
};

/// A non-blocking operation that would have had to wait (EAGAIN / EWOULDBLOCK).
class VARONET_API WouldBlockException : public SystemException {
public:
    WouldBlockException(int error, const Base::String& text) : SystemException(error, text) {}
};

/// Throws for a non-zero errno-style code: WouldBlockException for EAGAIN and
/// EWOULDBLOCK, SystemException otherwise. text names the failed operation.
[[noreturn]] VARONET_API void checkSystemError(int error, const Base::String& text);

/// Throws with the current errno.
[[noreturn]] VARONET_API void throwLastSystemError(const Base::String& text);

}  // namespace IO
