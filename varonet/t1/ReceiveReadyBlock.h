#pragma once
// T1::ReceiveReadyBlock (R-block): acknowledges a block or reports a fault.
//   PCB = 10 | 0 | N(R) (10) | error code (bits 3..0)

#include <varonet/base/Export.h>
#include <varonet/t1/Block.h>

namespace T1 {

class VARONET_API ReceiveReadyBlock : public Block {
public:
    enum EErrorType : std::uint32_t {
        NoError = 0,
        ParityError = 1,  ///< parity or EDC error
        OtherError = 2,
        Timeout = 3,  ///< no block within the waiting time; goes on the wire as OtherError
    };

    /// For sending, with empty data. sequence is N(R): the N(S) expected next.
    ReceiveReadyBlock(const NodeAddress& address, bool sequence, EErrorType error);
    /// As received: N(R) from PCB bit 4, error from bits 3..0 (any of 0..15).
    ReceiveReadyBlock(const NodeAddress& address, std::uint8_t pcb, Base::ByteArray data);
    ~ReceiveReadyBlock() override;

    unsigned int getType() const override { return ReceiveReady; }
    /// "NN R[seq=S,ok|parity/edc error|error]" then "]\n", or "]:\n" and a dump when there is data.
    Base::String toString() const override;
    std::uint8_t getPCB() const override;

    bool getSequence() const { return mbSequence; }
    std::uint32_t getError() const { return muError; }

private:
    bool mbSequence;
    std::uint32_t muError;
};

}  // namespace T1
