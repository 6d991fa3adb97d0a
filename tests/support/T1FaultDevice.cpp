#include "support/T1FaultDevice.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "peers/T1Node.h"

T1FaultDevice::T1FaultDevice(IO::Device* inner) : mpInner(inner) {}

void T1FaultDevice::dropInboundByte(std::size_t block, std::size_t offset) { mInbound[block].drops.push_back(offset); }
void T1FaultDevice::flipInboundBit(std::size_t block, std::size_t offset, int bit) {
    mInbound[block].flips.emplace_back(offset, bit);
}
void T1FaultDevice::holdInbound(std::size_t block, int waits) { mInbound[block].holdWaits = waits; }
void T1FaultDevice::repeatInbound(std::size_t block) { mInbound[block].repeat = true; }
void T1FaultDevice::injectInbound(std::size_t block, const Bytes& bytes) { mInbound[block].inject = bytes; }
void T1FaultDevice::dropOutboundByte(std::size_t block, std::size_t offset) { mOutbound[block].drops.push_back(offset); }
void T1FaultDevice::flipOutboundBit(std::size_t block, std::size_t offset, int bit) {
    mOutbound[block].flips.emplace_back(offset, bit);
}
void T1FaultDevice::dropOutbound(std::size_t block) { mOutbound[block].dropAll = true; }

namespace {
void damage(T1FaultDevice::Bytes& bytes, const std::vector<std::pair<std::size_t, int>>& flips,
            std::vector<std::size_t> drops) {
    for (const auto& [offset, bit] : flips)
        if (offset < bytes.size()) bytes[offset] ^= static_cast<std::uint8_t>(1u << bit);
    std::sort(drops.rbegin(), drops.rend());
    for (std::size_t offset : drops)
        if (offset < bytes.size()) bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}
}  // namespace

void T1FaultDevice::pull() {
    long available = mpInner->size();
    if (available > 0) {
        std::size_t at = mRaw.size();
        mRaw.resize(at + static_cast<std::size_t>(available));
        long n = mpInner->read(reinterpret_cast<char*>(mRaw.data() + at), available);
        mRaw.resize(at + static_cast<std::size_t>(n > 0 ? n : 0));
    }
    for (;;) {
        std::size_t length = T1Peer::blockLength(mRaw.data(), mRaw.size());
        if (length == 0 || mRaw.size() < length) return;
        Bytes block(mRaw.begin(), mRaw.begin() + static_cast<std::ptrdiff_t>(length));
        mRaw.erase(mRaw.begin(), mRaw.begin() + static_cast<std::ptrdiff_t>(length));
        auto fault = mInbound.find(muInboundIndex++);
        if (fault == mInbound.end()) {
            mReady.insert(mReady.end(), block.begin(), block.end());
            continue;
        }
        Fault& f = fault->second;
        mReady.insert(mReady.end(), f.inject.begin(), f.inject.end());
        if (f.holdWaits > 0) {
            mbHolding = true;
            muHoldOffset = mReady.size();
            miHoldWaits = f.holdWaits;
        }
        Bytes original = block;
        damage(block, f.flips, f.drops);
        mReady.insert(mReady.end(), block.begin(), block.end());
        if (f.repeat) mReady.insert(mReady.end(), original.begin(), original.end());
    }
}

std::size_t T1FaultDevice::readable() const { return mbHolding ? std::min(muHoldOffset, mReady.size()) : mReady.size(); }

long T1FaultDevice::size() {
    pull();
    return static_cast<long>(readable());
}

bool T1FaultDevice::isEOF() {
    pull();
    return mReady.empty() && mpInner->isEOF();
}

bool T1FaultDevice::waitForData(unsigned int ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pull();
        if (readable() > 0) return true;
        if (mbHolding && muHoldOffset == 0 && !mReady.empty()) {
            std::this_thread::sleep_until(deadline);  // the block is late by this wait
            if (--miHoldWaits == 0) mbHolding = false;
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || mpInner->isEOF()) return false;
        mpInner->waitForData(static_cast<unsigned int>(left));
    }
}

long T1FaultDevice::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    if (size() == 0 && !waitForData(1000)) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(length), readable());
    std::copy_n(mReady.begin(), n, buffer);
    mReady.erase(mReady.begin(), mReady.begin() + static_cast<std::ptrdiff_t>(n));
    if (mbHolding) muHoldOffset -= n;
    return static_cast<long>(n);
}

long T1FaultDevice::write(const char* buffer, long length) {
    Bytes bytes(buffer, buffer + length);
    mvOutbound.push_back(bytes);
    auto fault = mOutbound.find(muOutboundIndex++);
    if (fault != mOutbound.end()) {
        if (fault->second.dropAll) return length;
        damage(bytes, fault->second.flips, fault->second.drops);
    }
    mpInner->write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return length;
}
