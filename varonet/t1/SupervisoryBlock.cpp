// The supervisory block's PCB (its type, request or response) and its text for logs.
#include <varonet/t1/SupervisoryBlock.h>

#include <varonet/base/detail/HexDump.h>

namespace T1 {

SupervisoryBlock::SupervisoryBlock(const NodeAddress& address, std::uint32_t type, std::uint32_t response)
    : Block(address, Base::ByteArray()), muType(type), muResponse(response) {}

SupervisoryBlock::SupervisoryBlock(const NodeAddress& address, std::uint8_t pcb, Base::ByteArray data)
    : Block(address, std::move(data)), muType(pcb & 0x1Fu), muResponse((pcb & 0x20) != 0 ? 1u : 0u) {}

SupervisoryBlock::~SupervisoryBlock() = default;

std::uint8_t SupervisoryBlock::getPCB() const {
    return static_cast<std::uint8_t>((muResponse != Request ? 0xE0 : 0xC0) | (muType & 0x1Fu));
}

Base::String SupervisoryBlock::toString() const {
    const char* response = muResponse == Request ? "request" : (muResponse == Response ? "response" : "");
    Base::String text = nodeText() + " S[" + (muType == Resynch ? "resynch" : "unsupported") + "," + response;
    if (mData.isEmpty()) return text + "]\n";
    return text + "]:\n" + Base::HexDump::dump(mData);
}

}  // namespace T1
