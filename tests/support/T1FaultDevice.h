#pragma once
// T1FaultDevice: sits between the T=1 protocol and the real byte stream to
// its node and damages the traffic on cue.
//
// Inbound (node to host) the stream is cut into blocks by their length
// fields; faults name a block by its index in the node's original stream
// (0 = the first block the node sent). Outbound (host to node) every write
// is one block; faults name the write by its index. Only whole inbound
// blocks are handed to the reader, so a fault is always applied before the
// host sees any byte of its block.

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include <varonet/base/Device.h>

class T1FaultDevice : public IO::Device {
public:
    using Bytes = std::vector<std::uint8_t>;

    /// inner is borrowed.
    explicit T1FaultDevice(IO::Device* inner);

    // Inbound faults.
    void dropInboundByte(std::size_t block, std::size_t offset);
    void flipInboundBit(std::size_t block, std::size_t offset, int bit);
    /// The first `waits` waits that would let the host see this block fail
    /// after their full time, as if the block were late by that much.
    void holdInbound(std::size_t block, int waits);
    /// The block arrives twice in a row.
    void repeatInbound(std::size_t block);
    /// bytes (a whole block, e.g. from another node) arrive just before the block.
    void injectInbound(std::size_t block, const Bytes& bytes);
    // Outbound faults.
    void dropOutboundByte(std::size_t block, std::size_t offset);
    void flipOutboundBit(std::size_t block, std::size_t offset, int bit);
    void dropOutbound(std::size_t block);

    /// Every write of the host, as the host made it (before any fault).
    const std::vector<Bytes>& outbound() const { return mvOutbound; }

    bool isOpen() override { return mpInner->isOpen(); }
    void open() override { mpInner->open(); }
    void close() override { mpInner->close(); }
    Base::String getName() override { return "fault:" + mpInner->getName(); }
    long size() override;
    bool isEOF() override;
    bool waitForData(unsigned int ms) override;
    /// Hands out ready bytes; with none ready waits up to one second for some.
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;

private:
    struct Fault {
        std::vector<std::pair<std::size_t, int>> flips;  // offset, bit
        std::vector<std::size_t> drops;                   // offsets
        int holdWaits = 0;
        bool repeat = false;
        bool dropAll = false;
        Bytes inject;
    };

    void pull();
    std::size_t readable() const;

    IO::Device* mpInner;
    Bytes mRaw;                   // inbound bytes not yet cut into blocks
    std::deque<std::uint8_t> mReady;  // inbound bytes the host may read
    std::size_t muInboundIndex = 0;
    std::size_t muOutboundIndex = 0;
    std::map<std::size_t, Fault> mInbound;
    std::map<std::size_t, Fault> mOutbound;
    bool mbHolding = false;
    std::size_t muHoldOffset = 0;  // ready bytes in front of the held block
    int miHoldWaits = 0;
    std::vector<Bytes> mvOutbound;
};
