#pragma once
// T1::SupervisoryBlock (S-block): link control. Only RESYNCH (type 0) is acted on.
//   PCB = 11 | response (20) | type (bits 4..0)

#include <varonet/base/Export.h>
#include <varonet/t1/Block.h>

namespace T1 {

class VARONET_API SupervisoryBlock : public Block {
public:
    static constexpr std::uint32_t Resynch = 0;
    static constexpr std::uint32_t Request = 0;
    static constexpr std::uint32_t Response = 1;

    /// For sending, with empty data. response: 0 request, 1 response.
    SupervisoryBlock(const NodeAddress& address, std::uint32_t type, std::uint32_t response);
    /// As received: type = PCB & 1F, response = 1 when PCB bit 5 is set.
    SupervisoryBlock(const NodeAddress& address, std::uint8_t pcb, Base::ByteArray data);
    ~SupervisoryBlock() override;

    unsigned int getType() const override { return Supervisory; }
    /// "NN S[resynch|unsupported,request|response" then "]\n", or "]:\n" and a dump when there is data.
    Base::String toString() const override;
    std::uint8_t getPCB() const override;

    std::uint32_t getSupervisoryType() const { return muType; }
    std::uint32_t getResponse() const { return muResponse; }

private:
    std::uint32_t muType;
    std::uint32_t muResponse;
};

}  // namespace T1
