#pragma once
// T1::EDCException: a block failed its error detection (LRC or CRC).

#include <varonet/base/ByteArray.h>
#include <varonet/base/Exception.h>
#include <varonet/base/Export.h>

namespace T1 {

class VARONET_API EDCException : public Base::Exception {
public:
    /// Code ErrEDC (3847). data: the bytes of the failed block as far as they were read.
    EDCException(const Base::ByteArray& data, const Base::String& file, int line);
    EDCException(const EDCException&) = default;
    EDCException& operator=(const EDCException&) = default;
    ~EDCException() override;

    Base::ByteArray getData() const { return mData; }

private:
    Base::ByteArray mData;
};

}  // namespace T1
