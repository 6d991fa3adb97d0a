// The T=1 exchange: chains, confirmations and recovery.
//
//   host                                   node
//     send:    I(0, more) ------------------->
//              <------------------------- R(1)       confirmed
//              I(1, more) ------------------->
//              <------------------------- R(0)
//              I(0, last) ------------------->       not confirmed: the answer is
//     receive: <--------------------- I(0, more)     the confirmation
//              R(1) ------------------------->
//              <--------------------- I(1, last)     frame complete
//
// Recovery while receiving (budget 2 per call):
//     first fault          R(N(R), error)   (error 1: EDC, 2: other, time-out sent as 2)
//     second fault         S(RESYNCH request)
//     further time-out     Base::Exception ErrRecoveryExhausted; other faults go unanswered
//   <- R(N(R))             the node wants the stored block N(R) again
//   <- S(RESYNCH request)  answered with S(RESYNCH response), stored blocks dropped

#include <varonet/t1/Protocol.h>

#include <memory>

#include <varonet/base/Errors.h>
#include <varonet/base/Exception.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/base/StandardOutputStream.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/InformationBlock.h>
#include <varonet/t1/ReceiveReadyBlock.h>
#include <varonet/t1/SupervisoryBlock.h>
#include <varonet/t1/T1Errors.h>

namespace T1 {

Protocol::Protocol(IO::Device* device, unsigned int blockWaitingTime, unsigned int characterWaitingTime,
                   unsigned int userValue, unsigned int logMessage, unsigned int logLevel, Log::Logger* logger)
    : mpDevice(device),
      mvSentBlocks(2, nullptr),
      muBlockWaitingTime(blockWaitingTime),
      muCharacterWaitingTime(characterWaitingTime),
      muUserValue(userValue),
      muLogMessage(logMessage),
      muLogLevel(logLevel),
      mpLogger(logger) {}

Protocol::Protocol(const Protocol& other) : mvSentBlocks(2, nullptr) { copyFrom(other); }

Protocol& Protocol::operator=(const Protocol& other) {
    if (this != &other) {
        reset();
        copyFrom(other);
    }
    return *this;
}

Protocol::~Protocol() { reset(); }

void Protocol::copyFrom(const Protocol& other) {
    mpDevice = other.mpDevice;
    mbReceiveSequence = other.mbReceiveSequence;
    mbSendSequence = other.mbSendSequence;
    muBlockWaitingTime = other.muBlockWaitingTime;
    muCharacterWaitingTime = other.muCharacterWaitingTime;
    muUserValue = other.muUserValue;
    muLogMessage = other.muLogMessage;
    muLogLevel = other.muLogLevel;
    mpLogger = other.mpLogger;
    // Each object owns its stored blocks, so the copy can still answer a
    // resend request and neither deletes the other's blocks.
    for (std::size_t slot = 0; slot < 2; ++slot) {
        const auto* block = static_cast<const InformationBlock*>(other.mvSentBlocks[slot]);
        mvSentBlocks[slot] = block ? new InformationBlock(*block) : nullptr;
    }
}

void Protocol::reset() {
    for (Block*& block : mvSentBlocks) {
        delete block;
        block = nullptr;
    }
}

bool Protocol::waitForData(unsigned int ms) { return mpDevice->waitForData(ms); }

unsigned int Protocol::setBlockWaitingTime(unsigned int ms) {
    unsigned int previous = muBlockWaitingTime;
    muBlockWaitingTime = ms;
    return previous;
}

void Protocol::send(const Frame& frame) {
    Base::MemoryDevice source(frame.getData().chars(), static_cast<long>(frame.getData().size()));
    send(frame.getAddress(), &source, Block::MaxShortLength, false);
}

void Protocol::send(const NodeAddress& address, IO::InputDevice* source, unsigned int chunkSize, bool progress) {
    if (chunkSize == 0) throw Base::Exception(Base::ErrBadArgument, ".", __LINE__);  // would never finish
    mbReceiveSequence = false;
    mbSendSequence = false;
    if (!source->isOpen()) source->open();
    unsigned long long total = 0;
    Base::ByteArray buffer;
    for (;;) {
        buffer.clear();
        const long count = source->read(buffer, static_cast<long>(chunkSize));
        const bool last = source->isEOF();
        sendBlock(new InformationBlock(address, buffer, mbSendSequence, last, chunkSize), false);
        if (progress) {
            total += static_cast<unsigned long long>(count);
            Text::StandardOutputStream::getInstance() << "\rsent " << static_cast<long long>(total);
        }
        if (last) return;
        receiveConfirmation(address);
    }
}

void Protocol::receiveConfirmation(const NodeAddress& address) {
    NodeAddress node = address;
    unsigned int budget = miMaxRecoveryCount;
    for (;;) {
        std::unique_ptr<Block> block(receiveBlock(node, budget, 0));
        if (block->getType() == Block::Information) {
            // The node should be waiting for our next block, not talking.
            if (budget > 0) --budget;
        } else {
            const auto* ready = static_cast<const ReceiveReadyBlock*>(block.get());
            if (ready->getSequence() == mbSendSequence) return;
            handleResend(ready);
        }
    }
}

Frame Protocol::receive(const NodeAddress& address, unsigned int* recoveries, bool partial, bool recover) {
    if (!partial) {
        mbReceiveSequence = false;
        mbSendSequence = false;
    }
    NodeAddress node = address;
    unsigned int accepted = 0;
    Base::ByteArray data;
    unsigned int budget = recover ? miMaxRecoveryCount : 0;
    bool done = false;
    while (!done) {
        std::unique_ptr<Block> block(receiveBlock(node, budget, accepted));
        if (block->getType() == Block::Information) {
            const auto* information = static_cast<const InformationBlock*>(block.get());
            if (information->getSequence() == mbReceiveSequence) {
                mbReceiveSequence = !mbReceiveSequence;
                data.append(information->getData());
                if (information->isLast()) {
                    done = true;
                    mbReceiveSequence = false;
                    mbSendSequence = false;
                } else {
                    handleError(ReceiveReadyBlock::NoError, node, budget);
                    ++accepted;
                    done = partial;
                }
            } else if (budget > 0) {
                --budget;  // a repetition: our acknowledgement was lost, the data is already in
            }
        } else {
            handleResend(static_cast<const ReceiveReadyBlock*>(block.get()));
        }
    }
    if (recoveries) *recoveries = miMaxRecoveryCount - budget;
    return Frame(node, std::move(data));
}

Block* Protocol::receiveBlock(NodeAddress& address, unsigned int& budget, unsigned int check) {
    for (;;) {
        std::unique_ptr<Block> block;
        try {
            block.reset(Block::readBlock(mpDevice, muBlockWaitingTime, muCharacterWaitingTime));
        } catch (const EDCException& e) {
            if (mpLogger) {
                mpLogger->logError(e.getErrorCode(), 0);
                mpLogger->logArray(muLogMessage, e.getData(), static_cast<int>(muLogLevel));
            }
            handleError(ReceiveReadyBlock::ParityError, address, budget);
            continue;
        } catch (const Base::TimeoutException& e) {
            // The reader's time-outs carry no bytes, so there is nothing to log beyond the code.
            if (mpLogger) mpLogger->logError(e.getErrorCode(), 0);
            handleError(ReceiveReadyBlock::Timeout, address, budget);
            continue;
        }
        if (!checkNodeAddress(block.get(), address, check)) {
            if (mpLogger) mpLogger->logError(ErrWrongNode, 0);
            handleError(ReceiveReadyBlock::OtherError, address, budget);
            continue;
        }
        if (block->getType() == Block::Supervisory) {
            handleSupervisory(static_cast<const SupervisoryBlock*>(block.get()), budget);
            continue;
        }
        return block.release();
    }
}

bool Protocol::checkNodeAddress(const Block* block, NodeAddress& address, unsigned int check) {
    if (check == 0) {
        address = block->getAddress();
        return true;
    }
    return block->getAddress().getNode() == address.getNode();
}

void Protocol::sendBlock(Block* block, bool resend) {
    const bool information = block->getType() == Block::Information;
    std::unique_ptr<Block> transient;
    if (information && !resend) {
        Block*& slot = mvSentBlocks[mbSendSequence ? 1 : 0];
        delete slot;
        slot = block;
        mbSendSequence = !mbSendSequence;
    } else if (!information && !resend) {
        transient.reset(block);  // deleted after writing, also when writing fails
    }
    block->writeTo(mpDevice);
}

void Protocol::handleError(std::uint32_t error, const NodeAddress& address, unsigned int& budget) {
    if (budget >= 2 || error == ReceiveReadyBlock::NoError) {
        if (!address.isValid()) throw Base::Exception(ErrNoAddressForReceiveReady, ".", __LINE__);
        sendBlock(new ReceiveReadyBlock(address, mbReceiveSequence, static_cast<ReceiveReadyBlock::EErrorType>(error)),
                  false);
    } else if (budget == 1) {
        if (!address.isValid()) throw Base::Exception(ErrNoAddressForResynch, ".", __LINE__);
        sendBlock(new SupervisoryBlock(address, SupervisoryBlock::Resynch, SupervisoryBlock::Request), false);
    } else if (error == ReceiveReadyBlock::Timeout) {
        throw Base::Exception(ErrRecoveryExhausted, ".", __LINE__);
    }
    if (error != ReceiveReadyBlock::NoError && budget > 0) --budget;
}

void Protocol::handleResend(const ReceiveReadyBlock* block) {
    Block* stored = mvSentBlocks[block->getSequence() ? 1 : 0];
    if (stored) {
        sendBlock(stored, true);
        return;
    }
    // The node and this side no longer agree on the chain: whatever it sent
    // after the request belongs to the broken exchange.
    mpDevice->skip(mpDevice->size());
    throw Base::Exception(ErrBlockNotStored, ".", __LINE__);
}

void Protocol::handleSupervisory(const SupervisoryBlock* block, unsigned int& budget) {
    if (block->getSupervisoryType() != SupervisoryBlock::Resynch) return;
    if (block->getResponse() == SupervisoryBlock::Request) {
        reset();
        sendBlock(new SupervisoryBlock(block->getAddress(), SupervisoryBlock::Resynch, SupervisoryBlock::Response),
                  false);
    } else {
        reset();
        handleError(ReceiveReadyBlock::OtherError, block->getAddress(), budget);
    }
}

}  // namespace T1
