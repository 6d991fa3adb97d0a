// IPv4 socket addresses: text to address and back, host name lookup, and the ends of a socket.
#include <varonet/net/socket/detail/BsdSocketAddressIPv4.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/SocketErrors.h>

namespace Net {

namespace {

// Base::String is 8-bit already; what cannot reach the system is a text with an embedded NUL.
const char* toSystemText(const Base::String& text) {
    if (text.find('\0') >= 0) throw Base::Exception(ErrNameConversion, ".", __LINE__, "text holds a NUL character");
    return text.c_str();
}

bool parse(const Base::String& ip, in_addr& out) {
    if (ip.isEmpty()) {
        out.s_addr = 0;
        return true;
    }
    return ::inet_pton(AF_INET, toSystemText(ip), &out) == 1;
}

}  // namespace

BsdSocketAddressIPv4::BsdSocketAddressIPv4(const Base::String& ip, unsigned int port)
    : BsdSocketAddress(std::make_unique<BsdIPv4AddressInternal>()) {
    if (port > 65535)
        throw Base::Exception(ErrBadPort, ".", __LINE__,
                              "port " + Base::String::fromUnsigned(port) + " is above 65535");
    sockaddr_in& a = static_cast<BsdIPv4AddressInternal&>(*mpInternal).getAddress();
    if (!parse(ip, a.sin_addr)) IO::checkSystemError(EINVAL, "not an IPv4 address: " + ip);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
}

Base::String BsdSocketAddressIPv4::getIP() const {
    char text[INET_ADDRSTRLEN];
    if (!::inet_ntop(AF_INET, &address().sin_addr, text, sizeof text)) return "";
    return Base::String(text);
}

unsigned int BsdSocketAddressIPv4::getPort() const { return ntohs(address().sin_port); }

bool BsdSocketAddressIPv4::isValidIP(const Base::String& ip) {
    in_addr ignored{};
    return parse(ip, ignored);
}

BsdSocketAddressIPv4 BsdSocketAddressIPv4::fromSocket(BsdSocket& socket, bool peer) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int r = peer ? ::getpeername(socket.getHandle(), reinterpret_cast<sockaddr*>(&address), &length)
                 : ::getsockname(socket.getHandle(), reinterpret_cast<sockaddr*>(&address), &length);
    if (r < 0) socket.fail(false, peer ? "peer address of" : "local address of");
    return BsdSocketAddressIPv4(std::make_unique<BsdIPv4AddressInternal>(address));
}

BsdSocketAddressIPv4 BsdSocketAddressIPv4::getPeer(BsdSocket& socket) { return fromSocket(socket, true); }
BsdSocketAddressIPv4 BsdSocketAddressIPv4::getLocal(BsdSocket& socket) { return fromSocket(socket, false); }

Base::String BsdSocketAddressIPv4::getInterfaceMask(ENetmaskFormat, const Base::String&) { return "Not supported"; }
Base::String BsdSocketAddressIPv4::getDefaultGateway() { return "Not supported"; }
bool BsdSocketAddressIPv4::getInterfaceAddress(Base::String&, const Base::String&) { return false; }
bool BsdSocketAddressIPv4::hasLink(const Base::String&) { return true; }

BsdSocketAddressIPv4 resolveHost(const Base::String& host, unsigned int port) {
    if (BsdSocketAddressIPv4::isValidIP(host)) return BsdSocketAddressIPv4(host, port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(toSystemText(host), nullptr, &hints, &list) != 0 || list == nullptr)
        throw IO::Exception(ErrHostNotFound, ".", __LINE__, "host not found: " + host);
    char text[INET_ADDRSTRLEN] = "";
    // Only the first address is ever tried.
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr, text, sizeof text);
    ::freeaddrinfo(list);
    return BsdSocketAddressIPv4(text, port);
}

}  // namespace Net
