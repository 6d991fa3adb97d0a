#pragma once
// T1::Frame: one whole message as the caller sees it. On the wire it may
// travel as a chain of several information blocks.

#include <varonet/base/ByteArray.h>
#include <varonet/base/Export.h>
#include <varonet/t1/NodeAddress.h>

namespace T1 {

class VARONET_API Frame {
public:
    Frame(const NodeAddress& address, const Base::ByteArray& data) : mAddress(address), mData(data) {}
    Frame(const NodeAddress& address, Base::ByteArray&& data) : mAddress(address), mData(std::move(data)) {}

    NodeAddress getAddress() const { return mAddress; }
    const Base::ByteArray& getData() const { return mData; }

private:
    NodeAddress mAddress;
    Base::ByteArray mData;
};

}  // namespace T1
