#pragma once
// ScriptedDevice: the one fake device of the tests and benchmarks.
//
// Its input is a script (a byte string) or an inner device (borrowed), and it
// hands the input out in chunks of at most a chosen size, so every decoder
// meets split and merged reads. Every write is recorded whole (or counted and
// discarded, as a null sink) and passed on to the inner device, if any.
//
// On cue it damages the traffic. Inbound faults name a unit of the input: an
// optional framer cuts the input into units (T=1 blocks, say), and only whole
// units are handed out, so a fault is always applied before the reader sees
// any byte of its unit; without a framer the whole input is unit 0, with
// offsets counted from its start. Outbound faults name a write by its index
// (from 0), counting only writes of at least a minimum length if one is set.
// It never waits on a script: a script with nothing left is simply silent.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <varonet/base/Device.h>

#include "support/DescriptorDevice.h"

namespace TestSupport {

class ScriptedDevice : public IO::Device {
public:
    /// Gives the length of the first unit of the bytes, or 0 while it is incomplete.
    using Framer = std::function<std::size_t(const std::uint8_t* bytes, std::size_t available)>;

    explicit ScriptedDevice(std::string script = "", std::size_t chunk = 1 << 20);
    /// Input from inner, writes to inner (after recording); inner is borrowed.
    explicit ScriptedDevice(IO::Device* inner, Framer framer = nullptr);

    /// false: writes are only counted (a null sink), not kept.
    void setRecording(bool recording) { mbRecording = recording; }

    // Inbound faults, by unit and offset inside it.
    void flipInboundBit(std::size_t unit, std::size_t offset, int bit = 0);
    void dropInboundByte(std::size_t unit, std::size_t offset);
    /// The first `waits` waits that would let the reader see this unit fail
    /// after their full time, as if the unit were late by that much.
    void holdInbound(std::size_t unit, int waits);
    /// The unit arrives twice in a row.
    void repeatInbound(std::size_t unit);
    /// bytes arrive just before the unit.
    void injectInbound(std::size_t unit, const std::string& bytes);
    template <class Bytes>
    void injectInbound(std::size_t unit, const Bytes& bytes) {
        injectInbound(unit, std::string(bytes.begin(), bytes.end()));
    }
    // Outbound faults, by write index.
    void flipOutboundBit(std::size_t write, std::size_t offset, int bit = 0);
    void dropOutboundByte(std::size_t write, std::size_t offset);
    void dropOutbound(std::size_t write);
    /// Outbound fault indexes count only writes at least this long.
    void countWritesFrom(std::size_t minLength) { muMinLength = minLength; }
    /// Every write reports by bytes fewer than it was given (a short write).
    void shortenWrites(long by) { mlShortBy = by; }

    /// Every write as it was made (before any fault).
    const std::vector<std::string>& writes() const { return mvWrites; }
    std::string written() const;
    long writeCount() const { return miWrites; }

    bool isOpen() override { return !mpInner || mpInner->isOpen(); }
    void open() override;
    void close() override;
    Base::String getName() override;
    long size() override;
    bool isEOF() override;
    bool waitForData(unsigned int ms) override;
    /// Hands out ready bytes; over an inner device with none ready, waits up to one second.
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;

private:
    struct Fault {
        std::vector<std::pair<std::size_t, int>> flips;  // offset, bit
        std::vector<std::size_t> drops;                  // offsets
        int holdWaits = 0;
        bool repeat = false;
        bool dropAll = false;
        std::string inject;
    };

    void pull();
    void release(std::string unit, std::size_t start);
    std::size_t readable() const;

    IO::Device* mpInner = nullptr;
    Framer mFramer;
    std::string msRaw;   // input not yet released
    std::string mReady;  // input the reader may take, from muReadAt on
    std::size_t muReadAt = 0;
    std::size_t muChunk;
    std::size_t muUnit = 0;    // units released so far
    std::size_t muOffset = 0;  // bytes of unit 0 released so far (no framer)
    std::map<std::size_t, Fault> mInbound, mOutbound;
    bool mbHolding = false;
    std::size_t muHoldOffset = 0;  // ready bytes in front of the held unit
    int miHoldWaits = 0;
    bool mbRecording = true;
    std::size_t muMinLength = 0;
    std::size_t muCounted = 0;  // writes counted for outbound faults
    long miWrites = 0;
    long mlShortBy = 0;
    std::vector<std::string> mvWrites;
};

/// A descriptor (a socket end, a pty) as a device, owned, with the scripted
/// device's faults in front of it.
class ScriptedDescriptor : public ScriptedDevice {
public:
    explicit ScriptedDescriptor(int fd) : ScriptedDevice(&mPlain), mPlain(fd, true) {}
    int getHandle() const { return mPlain.getHandle(); }

private:
    DescriptorDevice mPlain;
};

}  // namespace TestSupport
