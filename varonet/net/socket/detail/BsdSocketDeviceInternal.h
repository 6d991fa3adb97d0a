#pragma once
// Net::BsdSocketDeviceInternal: the heap handle that a socket device owns.

#include <varonet/net/socket/detail/BsdSocket.h>

namespace Net {

class BsdSocketDeviceInternal : public BsdSocket {
public:
    using BsdSocket::BsdSocket;
    /// A further handle onto socket's record (an accepted connection, a copied device).
    explicit BsdSocketDeviceInternal(const BsdSocket& socket) : BsdSocket(socket) {}
};

}  // namespace Net
