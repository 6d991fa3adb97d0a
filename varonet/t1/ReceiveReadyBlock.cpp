// The receive-ready block's PCB (sequence and error code) and its text for logs.
#include <varonet/t1/ReceiveReadyBlock.h>

#include <varonet/base/detail/HexDump.h>

namespace T1 {

ReceiveReadyBlock::ReceiveReadyBlock(const NodeAddress& address, bool sequence, EErrorType error)
    : Block(address, Base::ByteArray()), mbSequence(sequence), muError(error) {}

ReceiveReadyBlock::ReceiveReadyBlock(const NodeAddress& address, std::uint8_t pcb, Base::ByteArray data)
    : Block(address, std::move(data)), mbSequence((pcb & 0x10) != 0), muError(pcb & 0x0Fu) {}

ReceiveReadyBlock::~ReceiveReadyBlock() = default;

std::uint8_t ReceiveReadyBlock::getPCB() const {
    // The wire has no code for a time-out: the node learns of it as "other error".
    const std::uint32_t code = muError == Timeout ? std::uint32_t(OtherError) : (muError & 0x0Fu);
    return static_cast<std::uint8_t>(0x80 | (mbSequence ? 0x10 : 0x00) | code);
}

Base::String ReceiveReadyBlock::toString() const {
    const char* error = muError == NoError ? "ok" : (muError == ParityError ? "parity/edc error" : "error");
    Base::String text = nodeText() + " R[seq=" + (mbSequence ? "1" : "0") + "," + error;
    if (mData.isEmpty()) return text + "]\n";
    return text + "]:\n" + Base::HexDump::dump(mData);
}

}  // namespace T1
