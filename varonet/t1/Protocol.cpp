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
#include <varonet/base/detail/StandardOutputStream.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/InformationBlock.h>
#include <varonet/t1/ReceiveReadyBlock.h>
#include <varonet/t1/SupervisoryBlock.h>
#include <varonet/t1/T1Errors.h>

namespace T1 {

static_assert(Protocol::kFrameChunkSize == Block::MaxShortLength, "send(frame) keeps to the short form");

Protocol::Protocol(IO::Device* device, const Options& options)
    : mSettings{.device = device,
                .blockWaitingTime = options.blockWaitingTime,
                .characterWaitingTime = options.characterWaitingTime,
                .userValue = options.userValue,
                .logMessage = options.logMessage,
                .logLevel = options.logLevel,
                .logger = options.logger} {}

Protocol::Protocol(IO::Device* device, unsigned int blockWaitingTime, unsigned int characterWaitingTime,
                   unsigned int userValue, unsigned int logMessage, unsigned int logLevel, Log::Logger* logger)
    : Protocol(device, {.blockWaitingTime = blockWaitingTime,
                        .characterWaitingTime = characterWaitingTime,
                        .userValue = userValue,
                        .logMessage = logMessage,
                        .logLevel = logLevel,
                        .logger = logger}) {}

Protocol::Protocol(const Protocol& other) : mSettings(other.mSettings) { copyBlocks(other); }

Protocol& Protocol::operator=(const Protocol& other) {
    if (this != &other) {
        mSettings = other.mSettings;
        copyBlocks(other);
    }
    return *this;
}

Protocol::~Protocol() = default;

void Protocol::copyBlocks(const Protocol& other) {
    // Each object owns its stored blocks, so the copy can still answer a
    // resend request and neither deletes the other's blocks.
    for (std::size_t slot = 0; slot < mSentBlocks.size(); ++slot) {
        const InformationBlock* block = other.mSentBlocks[slot].get();
        mSentBlocks[slot] = block ? std::make_unique<InformationBlock>(*block) : nullptr;
    }
}

void Protocol::reset() {
    for (auto& block : mSentBlocks) block.reset();
}

bool Protocol::waitForData(unsigned int ms) { return mSettings.device->waitForData(ms); }

unsigned int Protocol::setBlockWaitingTime(unsigned int ms) {
    unsigned int previous = mSettings.blockWaitingTime;
    mSettings.blockWaitingTime = ms;
    return previous;
}

void Protocol::send(const Frame& frame) {
    Base::MemoryDevice source(frame.getData().chars(), static_cast<long>(frame.getData().size()));
    send(frame.getAddress(), &source, SendOptions{.chunkSize = kFrameChunkSize});
}

void Protocol::send(const NodeAddress& address, IO::InputDevice* source, unsigned int chunkSize, bool progress) {
    send(address, source, {.chunkSize = chunkSize, .progress = progress});
}

void Protocol::send(const NodeAddress& address, IO::InputDevice* source, const SendOptions& options) {
    const unsigned int chunkSize = options.chunkSize;
    if (chunkSize == 0) throw Base::Exception(Base::ErrBadArgument, ".", __LINE__);  // would never finish
    mSettings.receiveSequence = false;
    mSettings.sendSequence = false;
    if (!source->isOpen()) source->open();
    unsigned long long total = 0;
    Base::ByteArray buffer;
    for (;;) {
        buffer.clear();
        const long count = source->read(buffer, static_cast<long>(chunkSize));
        const bool last = source->isEOF();
        sendBlock(std::make_unique<InformationBlock>(
            address, buffer,
            InformationBlock::Options{.sequence = mSettings.sendSequence, .last = last, .size = chunkSize}));
        if (options.progress) {
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
        std::unique_ptr<Block> block = receiveBlock(node, budget, 0);
        if (block->getType() == Block::Information) {
            // The node should be waiting for our next block, not talking.
            if (budget > 0) --budget;
        } else {
            const auto& ready = static_cast<const ReceiveReadyBlock&>(*block);
            if (ready.getSequence() == mSettings.sendSequence) return;
            handleResend(ready);
        }
    }
}

Frame Protocol::receive(const NodeAddress& address, unsigned int* recoveries, bool partial, bool recover) {
    return receive(address, {.partial = partial, .recover = recover, .recoveries = recoveries});
}

Frame Protocol::receive(const NodeAddress& address, const ReceiveOptions& options) {
    const bool partial = options.partial;
    if (!partial) {
        mSettings.receiveSequence = false;
        mSettings.sendSequence = false;
    }
    NodeAddress node = address;
    unsigned int accepted = 0;
    Base::ByteArray data;
    unsigned int budget = options.recover ? miMaxRecoveryCount : 0;
    bool done = false;
    while (!done) {
        std::unique_ptr<Block> block = receiveBlock(node, budget, accepted);
        if (block->getType() == Block::Information) {
            const auto& information = static_cast<const InformationBlock&>(*block);
            if (information.getSequence() == mSettings.receiveSequence) {
                mSettings.receiveSequence = !mSettings.receiveSequence;
                data.append(information.getData());
                if (information.isLast()) {
                    done = true;
                    mSettings.receiveSequence = false;
                    mSettings.sendSequence = false;
                } else {
                    handleError(ReceiveReadyBlock::NoError, node, budget);
                    ++accepted;
                    done = partial;
                }
            } else if (budget > 0) {
                --budget;  // a repetition: our acknowledgement was lost, the data is already in
            }
        } else {
            handleResend(static_cast<const ReceiveReadyBlock&>(*block));
        }
    }
    if (options.recoveries) *options.recoveries = miMaxRecoveryCount - budget;
    return Frame(node, std::move(data));
}

std::unique_ptr<Block> Protocol::receiveBlock(NodeAddress& address, unsigned int& budget, unsigned int check) {
    for (;;) {
        std::unique_ptr<Block> block;
        try {
            block.reset(Block::readBlock(mSettings.device, mSettings.blockWaitingTime, mSettings.characterWaitingTime));
        } catch (const EDCException& e) {
            if (mSettings.logger) {
                mSettings.logger->logError(e.getErrorCode(), 0);
                mSettings.logger->logArray(mSettings.logMessage, e.getData(), static_cast<int>(mSettings.logLevel));
            }
            handleError(ReceiveReadyBlock::ParityError, address, budget);
            continue;
        } catch (const Base::TimeoutException& e) {
            // The reader's time-outs carry no bytes, so there is nothing to log beyond the code.
            if (mSettings.logger) mSettings.logger->logError(e.getErrorCode(), 0);
            handleError(ReceiveReadyBlock::Timeout, address, budget);
            continue;
        }
        if (!checkNodeAddress(*block, address, check)) {
            if (mSettings.logger) mSettings.logger->logError(ErrWrongNode, 0);
            handleError(ReceiveReadyBlock::OtherError, address, budget);
            continue;
        }
        if (block->getType() == Block::Supervisory) {
            handleSupervisory(static_cast<const SupervisoryBlock&>(*block), budget);
            continue;
        }
        return block;
    }
}

bool Protocol::checkNodeAddress(const Block& block, NodeAddress& address, unsigned int check) {
    if (check == 0) {
        address = block.getAddress();
        return true;
    }
    return block.getAddress().getNode() == address.getNode();
}

void Protocol::sendBlock(std::unique_ptr<Block> block) {
    if (block->getType() != Block::Information) {
        block->writeTo(mSettings.device);  // dropped after writing, also when writing fails
        return;
    }
    // Stored before writing: a block that fails to go out can still be asked for again.
    auto& slot = mSentBlocks[mSettings.sendSequence ? 1 : 0];
    slot.reset(static_cast<InformationBlock*>(block.release()));
    mSettings.sendSequence = !mSettings.sendSequence;
    slot->writeTo(mSettings.device);
}

void Protocol::resendBlock(const Block& block) { block.writeTo(mSettings.device); }

void Protocol::handleError(std::uint32_t error, const NodeAddress& address, unsigned int& budget) {
    if (budget >= 2 || error == ReceiveReadyBlock::NoError) {
        if (!address.isValid()) throw Base::Exception(ErrNoAddressForReceiveReady, ".", __LINE__);
        sendBlock(std::make_unique<ReceiveReadyBlock>(address, mSettings.receiveSequence,
                                                      static_cast<ReceiveReadyBlock::EErrorType>(error)));
    } else if (budget == 1) {
        if (!address.isValid()) throw Base::Exception(ErrNoAddressForResynch, ".", __LINE__);
        sendBlock(std::make_unique<SupervisoryBlock>(address, SupervisoryBlock::Resynch, SupervisoryBlock::Request));
    } else if (error == ReceiveReadyBlock::Timeout) {
        throw Base::Exception(ErrRecoveryExhausted, ".", __LINE__);
    }
    if (error != ReceiveReadyBlock::NoError && budget > 0) --budget;
}

void Protocol::handleResend(const ReceiveReadyBlock& block) {
    if (const InformationBlock* stored = mSentBlocks[block.getSequence() ? 1 : 0].get()) {
        resendBlock(*stored);
        return;
    }
    // The node and this side no longer agree on the chain: whatever it sent
    // after the request belongs to the broken exchange.
    mSettings.device->skip(mSettings.device->size());
    throw Base::Exception(ErrBlockNotStored, ".", __LINE__);
}

void Protocol::handleSupervisory(const SupervisoryBlock& block, unsigned int& budget) {
    if (block.getSupervisoryType() != SupervisoryBlock::Resynch) return;
    reset();
    if (block.getResponse() == SupervisoryBlock::Request)
        sendBlock(std::make_unique<SupervisoryBlock>(block.getAddress(), SupervisoryBlock::Resynch,
                                                     SupervisoryBlock::Response));
    else handleError(ReceiveReadyBlock::OtherError, block.getAddress(), budget);
}

}  // namespace T1
