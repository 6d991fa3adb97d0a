// The T=1 block reader and the exchange engine, over a memory device holding
// the fuzzer's bytes (what the engine sends is dropped). First byte: bit 0
// run the engine (else read single blocks); bits 1 and 2 a waiting time of
// 1 ms for blocks and for characters (else 0: read at once); bit 3 recovery;
// bit 4 partial frames; bit 5 send a frame first (of 100 times the second
// byte's low 3 bits, plus 3, bytes: longer ones travel as a chain that the
// input confirms), so that requests to resend find stored blocks; bits 6-7
// the node expected (none, 0, 1 or 2). Then receive until the input ends.
// Checked: only the documented failures come out; a block read from the wire
// reads back the same from its own encoding; a frame is never longer than
// the bytes that came.
#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/t1/Block.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/Protocol.h>
#include <varonet/t1/T1Errors.h>

#include "FuzzSupport.h"

namespace {

void readBlocks(Fuzz::FuzzLine& line, unsigned int blockWait, unsigned int characterWait) {
    while (line.size() > 0) {
        std::unique_ptr<T1::Block> block;
        try {
            block.reset(T1::Block::readBlock(&line, blockWait, characterWait));
        } catch (const T1::EDCException&) {
            continue;
        } catch (const Base::TimeoutException&) {
            continue;
        } catch (const Base::Exception& e) {
            if (e.getErrorCode() != T1::ErrShortBlockRead) Fuzz::fail("the block reader failed with an unknown code");
            continue;
        }
        block->toString();
        const Base::ByteArray wire = block->encode();
        Base::MemoryDevice copy(wire.chars(), static_cast<long>(wire.size()));
        std::unique_ptr<T1::Block> again(T1::Block::readBlock(&copy, 0, 0));
        if (again->getType() != block->getType() || again->getPCB() != block->getPCB() ||
            !(again->getAddress() == block->getAddress()) || !(again->getData() == block->getData()) ||
            copy.size() != 0)
            Fuzz::fail("a block did not read back from its own encoding");
    }
}

bool documented(const Base::Exception& e) {
    return e.getErrorCode() >= T1::ErrNoAddressForReceiveReady && e.getErrorCode() <= T1::ErrShortBlockRead;
}

void exchange(Fuzz::FuzzLine& line, std::uint8_t mode, std::uint8_t length, unsigned int blockWait,
              unsigned int characterWait, std::size_t size) {
    Fuzz::QuietLogger logger;
    T1::Protocol protocol(&line, {.blockWaitingTime = blockWait,
                                  .characterWaitingTime = characterWait,
                                  .logMessage = 1,
                                  .logLevel = 2,
                                  .logger = &logger});
    const T1::NodeAddress node = (mode >> 6) == 0 ? T1::NodeAddress() : T1::NodeAddress((mode >> 6) - 1);
    if (mode & 0x20) {
        try {
            protocol.send(
                T1::Frame(node.isValid() ? node : T1::NodeAddress(0), Base::ByteArray(100 * (length & 7) + 3, 'f')));
        } catch (const Base::Exception& e) {
            if (!documented(e)) Fuzz::fail("send failed with an unknown code");
        }
    }
    for (int call = 0; call < 64 && line.size() > 0; ++call) {
        try {
            unsigned int recoveries = 0;
            T1::Frame frame = protocol.receive(
                node, {.partial = (mode & 0x10) != 0, .recover = (mode & 0x08) != 0, .recoveries = &recoveries});
            if (frame.getData().size() > size) Fuzz::fail("a frame longer than the input");
            if (recoveries > T1::Protocol::miMaxRecoveryCount) Fuzz::fail("more recoveries than the budget");
        } catch (const Base::Exception& e) {
            if (!documented(e)) Fuzz::fail("receive failed with an unknown code");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t mode = data[0];
    Fuzz::FuzzLine line(data + 2, size - 2);
    const unsigned int blockWait = (mode & 0x02) ? 1 : 0;
    const unsigned int characterWait = (mode & 0x04) ? 1 : 0;
    if (mode & 0x01) exchange(line, mode, data[1], blockWait, characterWait, size);
    else readBlocks(line, blockWait, characterWait);
    return 0;
}
