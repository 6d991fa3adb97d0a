// The information block's PCB (sequence and more-data bits) and its text for logs.
#include <varonet/t1/InformationBlock.h>

#include <varonet/base/detail/HexDump.h>

namespace T1 {

InformationBlock::InformationBlock(const NodeAddress& address, const Base::ByteArray& data, const Options& options)
    : Block(address, data), mbSequence(options.sequence), mbLast(options.last), muSize(options.size) {}

InformationBlock::InformationBlock(const NodeAddress& address, const Base::ByteArray& data, bool sequence, bool last,
                                   std::uint32_t size)
    : InformationBlock(address, data, Options{.sequence = sequence, .last = last, .size = size}) {}

InformationBlock::InformationBlock(const NodeAddress& address, std::uint8_t pcb, Base::ByteArray data)
    : Block(address, std::move(data)), mbSequence((pcb & 0x40) != 0), mbLast((pcb & 0x20) == 0),
      muSize(static_cast<std::uint32_t>(mData.size())) {}

InformationBlock::~InformationBlock() = default;

std::uint8_t InformationBlock::getPCB() const {
    return static_cast<std::uint8_t>((mbSequence ? 0x40 : 0x00) | (mbLast ? 0x00 : 0x20));
}

Base::String InformationBlock::toString() const {
    return nodeText() + " I[more=" + (mbLast ? "0" : "1") + ",seq=" + (mbSequence ? "1" : "0") + "]:\n" +
           Base::HexDump::dump(mData);
}

}  // namespace T1
