#pragma once
// Net::InetAddress: one IPv4 or IPv6 socket address with its port, the name
// lookup that gives every address of a host, and the texts failures and
// accessors show ("127.0.0.1:7000", "[::1]:7000").

#include <sys/socket.h>

#include <vector>

#include <varonet/base/String.h>
#include <varonet/net/socket/AddressFamily.h>

namespace Net {

class BsdSocket;

class InetAddress {
public:
    /// No address (family AF_UNSPEC).
    InetAddress() = default;

    /// A numeric address ("10.0.0.1", "::1", "[::1]", "fe80::1%eth0") and port into out;
    /// false for a name or an empty text. Throws Base::Exception ErrNameConversion for a NUL.
    static bool parse(const Base::String& text, unsigned int port, InetAddress& out);
    /// Every address of host for family, in the order the system gives them
    /// (numeric text gives itself). Throws IO::Exception ErrHostNotFound with
    /// the host, the family and the reason when there is none.
    static std::vector<InetAddress> lookUp(const Base::String& host, unsigned int port, EAddressFamily family);
    /// The any-address of a family: 0.0.0.0 for IPv4Only, [::] otherwise.
    static InetAddress any(EAddressFamily family, unsigned int port);
    /// The local or peer address of a socket; a failure raises the errno and leaves the socket open.
    static InetAddress ofSocket(BsdSocket& socket, bool peer);
    /// The address held by a raw socket address (AF_INET or AF_INET6; anything else is none).
    static InetAddress fromRaw(const sockaddr* address, socklen_t length);

    const sockaddr* getSockAddr() const { return reinterpret_cast<const sockaddr*>(&mAddress); }
    socklen_t getSockAddrLength() const { return mLength; }
    /// AF_INET, AF_INET6 or AF_UNSPEC.
    int getFamily() const { return mAddress.ss_family; }
    /// "IPv4" or "IPv6" (an IPv4 caller of a dual-stack listener is IPv4).
    const char* getFamilyName() const;
    /// The address without port: dotted IPv4, IPv6 without brackets; an
    /// IPv4-mapped IPv6 address is shown as its IPv4 address.
    Base::String getIP() const;
    unsigned int getPort() const;
    /// "127.0.0.1:7000" or "[::1]:7000".
    Base::String toString() const;
    /// 0.0.0.0 or [::].
    bool isAny() const;
    /// host as people write it beside a port: an IPv6 address in brackets
    /// ("[::1]"), anything else as it stands.
    static Base::String bracketed(const Base::String& host);

private:
    sockaddr_storage mAddress{};
    socklen_t mLength = 0;
};

}  // namespace Net
