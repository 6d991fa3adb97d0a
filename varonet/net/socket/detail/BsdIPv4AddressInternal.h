#pragma once
// Net::BsdIPv4AddressInternal: one sockaddr_in (family, port and address in network order).

#include <netinet/in.h>

#include <cstring>

#include <varonet/net/socket/detail/BsdSocketAddressInternal.h>

namespace Net {

class BsdIPv4AddressInternal : public BsdSocketAddressInternal {
public:
    /// The any-address 0.0.0.0, port 0.
    BsdIPv4AddressInternal() {
        std::memset(&mAddress, 0, sizeof mAddress);
        mAddress.sin_family = AF_INET;
    }
    explicit BsdIPv4AddressInternal(const sockaddr_in& address) : mAddress(address) {}

    const sockaddr* getSockAddr() const override { return reinterpret_cast<const sockaddr*>(&mAddress); }
    int getSockAddrLength() const override { return static_cast<int>(sizeof mAddress); }
    /// A new heap copy; ownership passes to the caller.
    BsdSocketAddressInternal* clone() const override { return new BsdIPv4AddressInternal(mAddress); }
    sockaddr_in& getAddress() { return mAddress; }
    const sockaddr_in& getAddress() const { return mAddress; }

private:
    sockaddr_in mAddress;
};

}  // namespace Net
