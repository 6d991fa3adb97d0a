// The exception for a block whose error detection code does not match, with the bytes read.
#include <varonet/t1/EDCException.h>

#include <varonet/t1/T1Errors.h>

namespace T1 {

EDCException::EDCException(const Base::ByteArray& data, const Base::String& file, int line)
    : Base::Exception(ErrEDC, file, line), mData(data) {}

EDCException::~EDCException() = default;

}  // namespace T1
