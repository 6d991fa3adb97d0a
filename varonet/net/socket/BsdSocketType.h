#pragma once
// Net::BsdSocketType: address family, socket type and protocol of a socket,
// passed unchanged to socket(2).

#include <cstdint>

#include <varonet/base/Export.h>

namespace Net {

class VARONET_API BsdSocketType {
public:
    constexpr BsdSocketType(std::int32_t family, std::int32_t type, std::int32_t protocol)
        : miFamily(family), miType(type), miProtocol(protocol) {}

    /// TCP over IPv4: AF_INET, SOCK_STREAM, protocol 0.
    static constexpr BsdSocketType tcpIp4() { return BsdSocketType(2, 1, 0); }
    /// TCP over IPv6: AF_INET6, SOCK_STREAM, protocol 0.
    static constexpr BsdSocketType tcpIp6() { return BsdSocketType(10, 1, 0); }

    constexpr std::int32_t getFamily() const { return miFamily; }
    constexpr std::int32_t getType() const { return miType; }
    constexpr std::int32_t getProtocol() const { return miProtocol; }

private:
    std::int32_t miFamily;
    std::int32_t miType;
    std::int32_t miProtocol;
};

}  // namespace Net
