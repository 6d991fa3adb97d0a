#pragma once
// Net::BsdSocketAddressIPv4: an IPv4 address and port, with text conversions.

#include <varonet/base/String.h>
#include <varonet/net/socket/detail/BsdIPv4AddressInternal.h>
#include <varonet/net/socket/detail/BsdSocket.h>
#include <varonet/net/socket/detail/BsdSocketAddress.h>

namespace Net {

/// How getInterfaceMask would format a mask (it answers "Not supported" whatever is asked).
enum ENetmaskFormat { NetmaskDotted = 0, NetmaskPrefixLength = 1 };

class BsdSocketAddressIPv4 : public BsdSocketAddress {
public:
    /// ip is dotted-decimal text ("" = any address 0.0.0.0); no name lookup.
    /// Text that is not an IPv4 address raises EINVAL through IO::checkSystemError;
    /// an embedded NUL raises Base::Exception ErrNameConversion, a port above
    /// 65535 Base::Exception ErrBadPort.
    BsdSocketAddressIPv4(const Base::String& ip, unsigned int port);
    BsdSocketAddressIPv4(const BsdSocketAddressIPv4& other) = default;
    BsdSocketAddressIPv4& operator=(const BsdSocketAddressIPv4& other) = default;

    /// Dotted-decimal address without port; "" when it cannot be converted.
    Base::String getIP() const;
    /// The port in host order.
    unsigned int getPort() const;

    /// True for "" and for dotted-decimal IPv4 text.
    static bool isValidIP(const Base::String& ip);
    /// The peer and local address of a socket; a failure raises the errno and
    /// leaves the socket open.
    static BsdSocketAddressIPv4 getPeer(BsdSocket& socket);
    static BsdSocketAddressIPv4 getLocal(BsdSocket& socket);

    // Interface queries with fixed answers.
    static Base::String getInterfaceMask(ENetmaskFormat format, const Base::String& interfaceName);
    static Base::String getDefaultGateway();
    static bool getInterfaceAddress(Base::String& address, const Base::String& interfaceName);
    static bool hasLink(const Base::String& interfaceName);

protected:
    BsdSocketAddressIPv4() = default;
    explicit BsdSocketAddressIPv4(std::unique_ptr<BsdIPv4AddressInternal> internal)
        : BsdSocketAddress(std::move(internal)) {}

private:
    static BsdSocketAddressIPv4 fromSocket(BsdSocket& socket, bool peer);
    const sockaddr_in& address() const { return static_cast<const BsdIPv4AddressInternal&>(*mpInternal).getAddress(); }
};

/// host as dotted text (no lookup) or a name (getaddrinfo, first IPv4 address)
/// with port. A name without address raises IO::Exception ErrHostNotFound.
BsdSocketAddressIPv4 resolveHost(const Base::String& host, unsigned int port);

}  // namespace Net
