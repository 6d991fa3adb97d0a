#pragma once
// Net::BsdSocketAddressInternal: holder of one raw socket address.

#include <sys/socket.h>

namespace Net {

class BsdSocketAddressInternal {
public:
    virtual ~BsdSocketAddressInternal() = default;
    virtual const sockaddr* getSockAddr() const = 0;
    virtual int getSockAddrLength() const = 0;
    /// A new heap copy of the same kind; ownership passes to the caller.
    virtual BsdSocketAddressInternal* clone() const = 0;
};

}  // namespace Net
