#pragma once
// The exception family. Every failure the library raises itself is a
// Base::Exception carrying a numeric code, a source-file text (the library
// passes ".") and a source line. Failures of the operating system carry the
// system's errno value and answer isSystemError() with true, so they never
// mix with the library's own codes.

#include <exception>
#include <string>

#include <varonet/base/Errors.h>
#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace Base {

class VARONET_API Exception : public std::exception {
public:
    Exception(unsigned int code, const String& file, int line, const String& text = String());
    ~Exception() override = default;

    unsigned int getErrorCode() const { return muCode; }
    const String& getFile() const { return msFile; }
    int getLine() const { return miLine; }
    const String& getText() const { return msText; }
    /// True for a failure of the operating system: getErrorCode() is then an errno value.
    virtual bool isSystemError() const { return false; }
    const char* what() const noexcept override { return msWhat.c_str(); }

protected:
    void setWhat(const std::string& what) { msWhat = what; }

private:
    unsigned int muCode;
    String msFile;
    int miLine;
    String msText;
    std::string msWhat;
};

/// A wait that ended before anything arrived.
class VARONET_API TimeoutException : public Exception {
public:
    TimeoutException(const String& file, int line, const String& text = String());
    /// The code every time-out carries (the library's own, not a system code).
    static constexpr unsigned int Code = ErrTimeout;
};

}  // namespace Base
