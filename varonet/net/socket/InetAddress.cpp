// Internet socket addresses of both families, their texts and the name lookup.
#include <varonet/net/socket/detail/InetAddress.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/detail/BsdSocket.h>

namespace Net {

namespace {
// "[::1]" -> "::1"; anything else as it stands.
Base::String withoutBrackets(const Base::String& host) {
    if (host.length() >= 2 && host.startsWith("[") && host.str().back() == ']')
        return host.substring(1, host.length() - 2);
    return host;
}

const char* checkedText(const Base::String& text) {
    if (text.find('\0') >= 0) throw Base::Exception(ErrNameConversion, ".", __LINE__, "text holds a NUL character");
    return text.c_str();
}

bool isMappedIPv4(const sockaddr_in6& a) { return IN6_IS_ADDR_V4MAPPED(&a.sin6_addr); }

const char* familyWord(EAddressFamily family) { return family == IPv4Only ? "IPv4" : "IPv6"; }
}  // namespace

InetAddress InetAddress::fromRaw(const sockaddr* address, socklen_t length) {
    InetAddress out;
    if ((address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) ||
        (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6)))) {
        out.mLength = address->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        std::memcpy(&out.mAddress, address, out.mLength);
    }
    return out;
}

bool InetAddress::parse(const Base::String& text, unsigned int port, InetAddress& out) {
    const Base::String host = withoutBrackets(text);
    if (host.isEmpty()) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(checkedText(host), service.c_str(), &hints, &list) != 0 || !list) return false;
    out = fromRaw(list->ai_addr, list->ai_addrlen);
    ::freeaddrinfo(list);
    return out.getFamily() != AF_UNSPEC;
}

std::vector<InetAddress> InetAddress::lookUp(const Base::String& text, unsigned int port, EAddressFamily family) {
    const Base::String host = withoutBrackets(text);
    addrinfo hints{};
    hints.ai_family = family == IPv4Only ? AF_INET : family == IPv6Only ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    int r = host.isEmpty() ? EAI_NONAME : ::getaddrinfo(checkedText(host), service.c_str(), &hints, &list);
    std::vector<InetAddress> out;
    for (addrinfo* a = r == 0 ? list : nullptr; a; a = a->ai_next) {
        InetAddress address = fromRaw(a->ai_addr, a->ai_addrlen);
        if (address.getFamily() != AF_UNSPEC) out.push_back(address);
    }
    if (list) ::freeaddrinfo(list);
    if (out.empty()) {
        // "host not found: no.such.invalid: Name or service not known"; with one family asked
        // for, "host not found: 127.0.0.1 has no IPv6 address (it is an IPv4 address)".
        InetAddress numeric;
        const Base::String why = host.isEmpty() ? Base::String("no host given")
                                 : parse(host, port, numeric)
                                     ? Base::String("it is an ") + numeric.getFamilyName() + " address"
                                 : r == 0 ? Base::String("no address")
                                          : Base::String(::gai_strerror(r));
        const Base::String text = family == AnyFamily
                                      ? bracketed(host) + ": " + why
                                      : bracketed(host) + " has no " + familyWord(family) + " address (" + why + ")";
        throw IO::Exception(ErrHostNotFound, ".", __LINE__, "host not found: " + text);
    }
    return out;
}

InetAddress InetAddress::any(EAddressFamily family, unsigned int port) {
    InetAddress out;
    if (family == IPv4Only) {
        auto& a = reinterpret_cast<sockaddr_in&>(out.mAddress);
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        out.mLength = sizeof a;
    } else {
        auto& a = reinterpret_cast<sockaddr_in6&>(out.mAddress);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<std::uint16_t>(port));
        out.mLength = sizeof a;
    }
    return out;
}

InetAddress InetAddress::ofSocket(BsdSocket& socket, bool peer) {
    sockaddr_storage raw{};
    socklen_t length = sizeof raw;
    auto* address = reinterpret_cast<sockaddr*>(&raw);
    int r = peer ? ::getpeername(socket.getHandle(), address, &length)
                 : ::getsockname(socket.getHandle(), address, &length);
    if (r < 0) socket.fail(false, peer ? "peer address of" : "local address of");
    return fromRaw(address, length);
}

const char* InetAddress::getFamilyName() const {
    if (getFamily() == AF_INET6 && !isMappedIPv4(reinterpret_cast<const sockaddr_in6&>(mAddress))) return "IPv6";
    return "IPv4";
}

Base::String InetAddress::getIP() const {
    char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 1] = "";
    if (getFamily() == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(mAddress).sin_addr, text, sizeof text);
    } else if (getFamily() == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(mAddress);
        if (isMappedIPv4(a)) ::inet_ntop(AF_INET, &a.sin6_addr.s6_addr[12], text, sizeof text);
        else ::getnameinfo(getSockAddr(), mLength, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    }
    return Base::String(text);
}

unsigned int InetAddress::getPort() const {
    if (getFamily() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(mAddress).sin_port);
    if (getFamily() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(mAddress).sin6_port);
    return 0;
}

Base::String InetAddress::bracketed(const Base::String& host) {
    return host.find(':') >= 0 && !host.startsWith("[") ? "[" + host + "]" : host;
}

Base::String InetAddress::toString() const { return bracketed(getIP()) + ":" + Base::String::fromUnsigned(getPort()); }

bool InetAddress::isAny() const {
    if (getFamily() == AF_INET) return reinterpret_cast<const sockaddr_in&>(mAddress).sin_addr.s_addr == INADDR_ANY;
    if (getFamily() == AF_INET6)
        return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(mAddress).sin6_addr);
    return false;
}

}  // namespace Net
