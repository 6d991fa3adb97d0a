#pragma once
// T1NodeLink: a socketpair (or a pty in raw mode) with the independent T=1
// node on one end, in its own thread, and on the other the host's device
// with a fault-injecting device in front of it.

#include <functional>
#include <memory>
#include <thread>

#include <varonet/base/ByteArray.h>

#include "peers/T1Node.h"
#include "support/DescriptorDevice.h"
#include "support/Files.h"
#include "support/ScriptedDevice.h"

namespace TestSupport {

/// n seeded random bytes, and the same bytes as the library holds them and back.
inline T1Peer::Bytes bytes(std::size_t n, unsigned int seed = 1) {
    const std::string s = randomBytes(n, seed);
    return T1Peer::Bytes(s.begin(), s.end());
}
inline Base::ByteArray array(const T1Peer::Bytes& b) { return Base::ByteArray(b.data(), b.size()); }
inline T1Peer::Bytes toBytes(const Base::ByteArray& a) { return T1Peer::Bytes(a.data(), a.data() + a.size()); }

class T1NodeLink {
public:
    enum class Kind { SocketPair, Pty };
    /// With Kind::Pty the host holds the master side and the node the slave side.
    explicit T1NodeLink(std::uint8_t nad = 0x12, Kind kind = Kind::SocketPair);
    T1NodeLink(const T1NodeLink&) = delete;
    T1NodeLink& operator=(const T1NodeLink&) = delete;
    ~T1NodeLink();

    /// Runs body on the node in its own thread.
    void start(std::function<void(T1Peer::T1Node&)> body);
    /// Hangs up the host's end and waits for the node to finish; the node's
    /// records may be read afterwards.
    void finish();

    /// The host's device: a scripted device cutting the node's stream into
    /// blocks, over the descriptor device.
    ScriptedDevice& faults() { return *mpFaults; }
    /// The host's device without the scripted device in front.
    IO::Device& plain() { return *mpHost; }
    /// Every write of the host, as the host made it (before any fault).
    std::vector<T1Peer::Bytes> outbound() const;
    T1Peer::T1Node& node() { return *mpNode; }

private:
    int mFds[2] = {-1, -1};
    bool mbPty = false;
    std::unique_ptr<IO::Device> mpHost;
    std::unique_ptr<ScriptedDevice> mpFaults;
    std::unique_ptr<T1Peer::T1Node> mpNode;
    std::thread mThread;
};

}  // namespace TestSupport
