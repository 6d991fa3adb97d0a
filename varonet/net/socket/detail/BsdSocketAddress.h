#pragma once
// Net::BsdSocketAddress: the polymorphic owner of one socket address holder.

#include <memory>

#include <varonet/net/socket/detail/BsdSocketAddressInternal.h>

namespace Net {

class BsdSocketAddress {
public:
    virtual ~BsdSocketAddress() = default;

    /// The raw address for connect and bind; valid while this object lives.
    const sockaddr* getSockAddr() const { return mpInternal->getSockAddr(); }
    socklen_t getSockAddrLength() const { return static_cast<socklen_t>(mpInternal->getSockAddrLength()); }

protected:
    BsdSocketAddress() = default;
    explicit BsdSocketAddress(std::unique_ptr<BsdSocketAddressInternal> internal) : mpInternal(std::move(internal)) {}
    /// A copy holds a clone of the other's holder.
    BsdSocketAddress(const BsdSocketAddress& other) : mpInternal(cloneOf(other)) {}
    BsdSocketAddress& operator=(const BsdSocketAddress& other) {
        if (this != &other) mpInternal = cloneOf(other);
        return *this;
    }

    std::unique_ptr<BsdSocketAddressInternal> mpInternal;

private:
    static std::unique_ptr<BsdSocketAddressInternal> cloneOf(const BsdSocketAddress& other) {
        return std::unique_ptr<BsdSocketAddressInternal>(other.mpInternal ? other.mpInternal->clone() : nullptr);
    }
};

}  // namespace Net
