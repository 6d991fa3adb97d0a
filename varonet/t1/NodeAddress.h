#pragma once
// T1::NodeAddress: the node number that fills the first byte (NAD) of every block.

#include <cstdint>

#include <varonet/base/Export.h>

namespace T1 {

class VARONET_API NodeAddress {
public:
    /// Node 0, not valid: "no node known yet".
    NodeAddress() = default;
    /// A valid address for node.
    NodeAddress(std::uint8_t node) : muNode(node), mbValid(true) {}  // NOLINT: a node byte is an address

    std::uint8_t getNode() const { return muNode; }
    bool isValid() const { return mbValid; }

    /// Compares the node bytes only; validity does not take part.
    friend bool operator==(const NodeAddress& a, const NodeAddress& b) { return a.muNode == b.muNode; }

private:
    std::uint8_t muNode = 0;
    bool mbValid = false;
};

}  // namespace T1
