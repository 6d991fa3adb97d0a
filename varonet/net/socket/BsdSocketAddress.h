#pragma once
// Net::BsdSocketAddress: the polymorphic owner of one socket address holder.

#include <varonet/net/socket/BsdSocketAddressInternal.h>

namespace Net {

class BsdSocketAddress {
public:
    virtual ~BsdSocketAddress() { delete mpInternal; }

    /// The raw address for connect and bind; valid while this object lives.
    const sockaddr* getSockAddr() const { return mpInternal->getSockAddr(); }
    socklen_t getSockAddrLength() const { return static_cast<socklen_t>(mpInternal->getSockAddrLength()); }

protected:
    BsdSocketAddress() = default;
    explicit BsdSocketAddress(BsdSocketAddressInternal* internal) : mpInternal(internal) {}
    BsdSocketAddress(const BsdSocketAddress& other)
        : mpInternal(other.mpInternal ? other.mpInternal->clone() : nullptr) {}
    BsdSocketAddress& operator=(const BsdSocketAddress& other) {
        if (this != &other) {
            BsdSocketAddressInternal* copy = other.mpInternal ? other.mpInternal->clone() : nullptr;
            delete mpInternal;
            mpInternal = copy;
        }
        return *this;
    }

    BsdSocketAddressInternal* mpInternal = nullptr;
};

}  // namespace Net
