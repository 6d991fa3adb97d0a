#pragma once
// Net::BsdSocketState: the record that every Net::BsdSocket handle onto one
// socket shares (through Base::SharedHandle). Only BsdSocket touches it.

#include <atomic>
#include <cstdint>

#include <varonet/base/Reference.h>
#include <varonet/base/String.h>
#include <varonet/net/socket/BsdSocketType.h>

namespace Net {

struct BsdSocketState : Base::Reference {
    /// A record with no socket yet (handle -1) or over an existing connected one
    /// (closed with the record). Raises the errno when the wake descriptor
    /// cannot be made; the given handle is left to the caller then.
    BsdSocketState(const BsdSocketType& type, int handle, unsigned int connectTimeout);
    ~BsdSocketState();
    BsdSocketState(const BsdSocketState&) = delete;
    BsdSocketState& operator=(const BsdSocketState&) = delete;

    std::atomic<bool> mbConnected{false};
    bool mbBlocking = true;
    // Set around blocking reads and waits so that isConnected on another thread answers
    // "connected" without probing underneath the running call.
    std::atomic<bool> mbWaiting{false};
    std::atomic<bool> mbReading{false};
    bool mbReadWaited = false;
    std::atomic<bool> mbWoken{
        false};  // a wait ended because of wakeUp (see BsdSocket::takeWakeUp)  // the last blocking receive came back short: wait first next time
    std::atomic<int> miHandle{-1};
    // Calls that are using the descriptor now (a read on one thread, a write on
    // another). A close while any runs shuts the socket down and parks the
    // descriptor here; the last of them closes it, so its number cannot be
    // reused under a call still holding it.
    std::atomic<int> miUsers{0};
    std::atomic<int> miParked{-1};
    std::int32_t miFamily;
    std::int32_t miType;
    std::int32_t miProtocol;
    unsigned int muConnectTimeout;
    // eventfd that wakeUp signals: blocking waits on the socket watch it too,
    // so a server or relay thread can be stopped without closing the socket.
    int miWakeFd = -1;
    // Who is at the other end ("127.0.0.1:7000", a pipe's path), or the local
    // address of a listener: failures name it.
    Base::String msPeer;
};

}  // namespace Net
