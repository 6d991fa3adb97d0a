#pragma once
// Net::BsdSocketState: the record that every Net::BsdSocket handle onto one
// socket shares. Only BsdSocket touches it.

#include <atomic>
#include <cstdint>

#include <varonet/net/socket/BsdSocketType.h>

namespace Net {

struct BsdSocketState {
    /// A record with no socket yet (handle -1) or over an existing connected one.
    BsdSocketState(const BsdSocketType& type, int handle, unsigned int connectTimeout);
    ~BsdSocketState();
    BsdSocketState(const BsdSocketState&) = delete;
    BsdSocketState& operator=(const BsdSocketState&) = delete;

    std::int32_t miRefCount = 0;  // handles sharing the record; copies live on one thread, so a plain int
    bool mbConnected = false;
    bool mbBlocking = true;
    // Set around blocking calls so that isConnected on another thread answers
    // "connected" without probing underneath the running call.
    std::atomic<bool> mbWaiting{false};
    std::atomic<bool> mbWriting{false};
    std::atomic<bool> mbReading{false};
    bool mbReadWaited = false;  // the last blocking receive came back short: wait first next time
    std::atomic<int> miHandle{-1};
    std::int32_t miFamily;
    std::int32_t miType;
    std::int32_t miProtocol;
    unsigned int muConnectTimeout;
    // eventfd that wakeUp signals: blocking waits on the socket watch it too,
    // so a server or relay thread can be stopped without closing the socket.
    int miWakeFd = -1;
};

}  // namespace Net
