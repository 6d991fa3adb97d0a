#pragma once
// T1::InformationBlock (I-block): carries a piece of a frame.
//   PCB = 0 | N(S) (40) | M, more data follows (20) | 00000

#include <varonet/base/Export.h>
#include <varonet/t1/Block.h>

namespace T1 {

class VARONET_API InformationBlock : public Block {
public:
    /// A block for sending, by name: {.sequence = true, .last = false}.
    struct Options {
        /// N(S), the sender's sequence bit.
        bool sequence = false;
        /// The last block of its chain (M clear).
        bool last = true;
        /// The chunk size the sender works with: above 254 the block goes
        /// out in the extended form, even when data is shorter.
        std::uint32_t size = 254;
    };
    /// For sending.
    InformationBlock(const NodeAddress& address, const Base::ByteArray& data, const Options& options);
    /// The same with sequence, last and size in a row.
    InformationBlock(const NodeAddress& address, const Base::ByteArray& data, bool sequence, bool last,
                     std::uint32_t size);
    /// As received: N(S) from PCB bit 6, last when PCB bit 5 is clear, size = data length.
    InformationBlock(const NodeAddress& address, std::uint8_t pcb, Base::ByteArray data);
    InformationBlock(const InformationBlock&) = default;
    InformationBlock& operator=(const InformationBlock&) = default;
    ~InformationBlock() override;

    unsigned int getType() const override { return Information; }
    /// "NN I[more=M,seq=S]:\n" and the dump of the data (even when empty).
    Base::String toString() const override;
    std::uint8_t getPCB() const override;

    bool getSequence() const { return mbSequence; }
    bool isLast() const { return mbLast; }
    std::uint32_t getSize() const { return muSize; }

protected:
    std::uint32_t getWireSize() const override { return muSize; }

private:
    bool mbSequence;
    bool mbLast;
    std::uint32_t muSize;
};

}  // namespace T1
