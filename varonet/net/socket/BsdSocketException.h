#pragma once
// Net::BsdSocketException: for callers that report socket errors of their own.
// The library itself raises IO::Exception codes and system errors instead.

#include <varonet/base/Export.h>
#include <varonet/base/IOException.h>

namespace Net {

class VARONET_API BsdSocketException : public IO::Exception {
public:
    BsdSocketException(long code, const Base::String& file, unsigned int line)
        : IO::Exception(static_cast<unsigned int>(code), file, static_cast<int>(line)) {}
    BsdSocketException(const Base::String& message, long code, const Base::String& file, unsigned int line)
        : IO::Exception(static_cast<unsigned int>(code), file, static_cast<int>(line), message) {}
};

}  // namespace Net
