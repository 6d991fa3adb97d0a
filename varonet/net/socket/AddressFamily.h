#pragma once
// Net::EAddressFamily: which internet protocol a TCP device or server may use.

namespace Net {

enum EAddressFamily {
    AnyFamily = 0,  ///< IPv6 and IPv4: every address a name has, a listener on both
    IPv4Only = 4,   ///< IPv4 addresses only
    IPv6Only = 6,   ///< IPv6 addresses only
};

}  // namespace Net
