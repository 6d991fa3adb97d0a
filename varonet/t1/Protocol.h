#pragma once
// T1::Protocol: exchanges whole frames with one node over a borrowed device.
//
// Half-duplex and driven by the caller: send a frame, then receive the
// node's answer. Long frames travel as chains of information blocks, each
// confirmed by the node with a receive-ready block. Time-outs, damaged
// blocks, blocks from another node and RESYNCH are recovered within a budget
// of miMaxRecoveryCount faults per call.

#include <array>
#include <cstdint>
#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/Logger.h>
#include <varonet/t1/Frame.h>
#include <varonet/t1/NodeAddress.h>

namespace T1 {

class Block;
class InformationBlock;
class ReceiveReadyBlock;
class SupervisoryBlock;

class VARONET_API Protocol {
public:
    /// Faults one receive (with recovery) or one confirmation wait may absorb.
    static const unsigned int miMaxRecoveryCount = 2;
    /// The chunk size of send(frame): the longest block of the short form.
    static constexpr unsigned int kFrameChunkSize = 254;

    /// The constructor's values by name:
    /// T1::Protocol protocol(&device, {.blockWaitingTime = 2000, .logger = &logger});
    struct Options {
        /// ms to wait for the first byte of a block (0: no wait).
        unsigned int blockWaitingTime = 1000;
        /// ms to wait for each further byte of a block (0: no wait).
        unsigned int characterWaitingTime = 100;
        /// Kept for the application; the exchange does not use it.
        unsigned int userValue = 0;
        /// First and third argument of every logArray call.
        unsigned int logMessage = 0;
        unsigned int logLevel = 0;
        /// Borrowed; null logs nothing.
        Log::Logger* logger = nullptr;
    };
    /// How receive reads the node's answer.
    struct ReceiveOptions {
        /// Return after one block of a chain; the sequence numbers carry on into the next call.
        bool partial = false;
        /// Absorb up to miMaxRecoveryCount faults; without, the first time-out ends the call.
        bool recover = true;
        /// Receives miMaxRecoveryCount minus the budget left; may be null.
        unsigned int* recoveries = nullptr;
    };
    /// How send cuts a stream into a chain.
    struct SendOptions {
        /// Bytes per block; above 254 every block takes the extended form. 0 is refused.
        unsigned int chunkSize = kFrameChunkSize;
        /// Writes "\rsent N" to standard output after each block.
        bool progress = false;
    };

    /// device is borrowed and must outlive the protocol, as must options.logger.
    Protocol(IO::Device* device, const Options& options);
    /// The same with the values in a row: the waiting times, the application's
    /// value, the log message number and level, and the logger.
    Protocol(IO::Device* device, unsigned int blockWaitingTime, unsigned int characterWaitingTime,
             unsigned int userValue, unsigned int logMessage, unsigned int logLevel, Log::Logger* logger);
    /// Copies the settings with the sequence numbers, and the stored blocks as
    /// blocks of its own (so either can answer a resend request).
    Protocol(const Protocol& other);
    Protocol& operator=(const Protocol& other);
    ~Protocol();

    /// Everything a copy carries besides the stored blocks: the borrowed device
    /// and logger, the times and log values, and where the exchange stands.
    struct Settings {
        IO::Device* device;
        unsigned int blockWaitingTime;
        unsigned int characterWaitingTime;
        unsigned int userValue;
        unsigned int logMessage;
        unsigned int logLevel;
        Log::Logger* logger;
        bool receiveSequence = false;
        bool sendSequence = false;
        bool operator==(const Settings&) const = default;
    };
    const Settings& getSettings() const { return mSettings; }

    /// Sends the frame as a chain of short-form blocks (chunks of 254 bytes).
    /// The last block is not confirmed here: the node's answer confirms it,
    /// read it with receive.
    void send(const Frame& frame);
    /// Sends everything source yields as one chain of blocks, as options say.
    /// Opens source when it is closed. Throws 3840..3843 when the node cannot
    /// be brought to confirm a block, Base::Exception ErrBadArgument for a
    /// chunk size of 0.
    void send(const NodeAddress& address, IO::InputDevice* source, const SendOptions& options);
    /// The same with chunk size and progress in a row.
    void send(const NodeAddress& address, IO::InputDevice* source, unsigned int chunkSize, bool progress);
    /// Reads one frame (or one block of it, see ReceiveOptions) from the node.
    /// address: the node expected; an invalid one takes the node of the first
    /// block. Throws Base::Exception 3840/3841 (no valid node to answer), 3842
    /// (time-out without budget), 3843 (the node asked for a block that is not stored).
    Frame receive(const NodeAddress& address, const ReceiveOptions& options);
    /// The same with the options in a row (a whole frame, with recovery, unless told).
    Frame receive(const NodeAddress& address, unsigned int* recoveries = nullptr, bool partial = false,
                  bool recover = true);
    /// Drops both stored information blocks; sequence numbers stay.
    void reset();
    /// The device's waitForData.
    bool waitForData(unsigned int ms);
    unsigned int getBlockWaitingTime() const { return mSettings.blockWaitingTime; }
    /// Sets the block waiting time and returns the previous one.
    unsigned int setBlockWaitingTime(unsigned int ms);
    unsigned int getCharacterWaitingTime() const { return mSettings.characterWaitingTime; }
    unsigned int getUserValue() const { return mSettings.userValue; }

protected:
    // The steps of the exchange, open to derived classes so that a single step
    // can be driven on its own. budget is the recovery budget of the running call.
    void receiveConfirmation(const NodeAddress& address);
    /// Reads until an information or receive-ready block arrives.
    /// check 0 takes any node (and copies it into address), else only address's node.
    std::unique_ptr<Block> receiveBlock(NodeAddress& address, unsigned int& budget, unsigned int check);
    /// Writes a new block: an information block is stored in its slot (and the
    /// send sequence moves on), any other block is dropped after writing.
    void sendBlock(std::unique_ptr<Block> block);
    /// Writes a stored information block again.
    void resendBlock(const Block& block);
    bool checkNodeAddress(const Block& block, NodeAddress& address, unsigned int check);
    void handleError(std::uint32_t error, const NodeAddress& address, unsigned int& budget);
    void handleResend(const ReceiveReadyBlock& block);
    void handleSupervisory(const SupervisoryBlock& block, unsigned int& budget);

private:
    void copyBlocks(const Protocol& other);

    Settings mSettings;
    /// The last information block sent with N(S) 0 and 1.
    std::array<std::unique_ptr<InformationBlock>, 2> mSentBlocks;
};

}  // namespace T1
