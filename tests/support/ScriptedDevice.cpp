// The scripted device: input in chunks of a chosen size, and faults injected on cue both ways.
#include "support/ScriptedDevice.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace TestSupport {

namespace {
void damage(std::string& bytes, const std::vector<std::pair<std::size_t, int>>& flips, std::vector<std::size_t> drops,
            std::size_t start) {
    for (const auto& [offset, bit] : flips)
        if (offset >= start && offset - start < bytes.size()) bytes[offset - start] ^= static_cast<char>(1u << bit);
    std::sort(drops.rbegin(), drops.rend());
    for (std::size_t offset : drops)
        if (offset >= start && offset - start < bytes.size()) bytes.erase(offset - start, 1);
}
}  // namespace

ScriptedDevice::ScriptedDevice(std::string script, std::size_t chunk) : msRaw(std::move(script)), muChunk(chunk) {}

ScriptedDevice::ScriptedDevice(IO::Device* inner, Framer framer)
    : mpInner(inner), mFramer(std::move(framer)), muChunk(std::size_t(1) << 20) {}

void ScriptedDevice::flipInboundBit(std::size_t unit, std::size_t offset, int bit) {
    mInbound[unit].flips.emplace_back(offset, bit);
}
void ScriptedDevice::dropInboundByte(std::size_t unit, std::size_t offset) { mInbound[unit].drops.push_back(offset); }
void ScriptedDevice::holdInbound(std::size_t unit, int waits) { mInbound[unit].holdWaits = waits; }
void ScriptedDevice::repeatInbound(std::size_t unit) { mInbound[unit].repeat = true; }
void ScriptedDevice::injectInbound(std::size_t unit, const std::string& bytes) { mInbound[unit].inject = bytes; }
void ScriptedDevice::flipOutboundBit(std::size_t write, std::size_t offset, int bit) {
    mOutbound[write].flips.emplace_back(offset, bit);
}
void ScriptedDevice::dropOutboundByte(std::size_t write, std::size_t offset) {
    mOutbound[write].drops.push_back(offset);
}
void ScriptedDevice::dropOutbound(std::size_t write) { mOutbound[write].dropAll = true; }

std::string ScriptedDevice::written() const {
    std::string all;
    for (const auto& w : mvWrites) all += w;
    return all;
}

void ScriptedDevice::open() {
    if (mpInner) mpInner->open();
}
void ScriptedDevice::close() {
    if (mpInner) mpInner->close();
}
Base::String ScriptedDevice::getName() {
    return mpInner ? "scripted:" + mpInner->getName() : Base::String("scripted:");
}

void ScriptedDevice::release(std::string unit, std::size_t start) {
    auto fault = mInbound.find(mFramer ? muUnit : 0);
    if (fault == mInbound.end()) {
        mReady += unit;
        return;
    }
    Fault& f = fault->second;
    if (start == 0) {
        mReady += f.inject;
        if (f.holdWaits > 0) {
            mbHolding = true;
            muHoldOffset = mReady.size() - muReadAt;
            miHoldWaits = f.holdWaits;
        }
    }
    std::string original = unit;
    damage(unit, f.flips, f.drops, start);
    mReady += unit;
    if (f.repeat) mReady += original;
}

void ScriptedDevice::pull() {
    if (mpInner) {
        long available = mpInner->size();
        if (available > 0) {
            std::size_t at = msRaw.size();
            msRaw.resize(at + static_cast<std::size_t>(available));
            long n = mpInner->read(msRaw.data() + at, available);
            msRaw.resize(at + static_cast<std::size_t>(n > 0 ? n : 0));
        }
    }
    if (!mFramer) {
        if (msRaw.empty()) return;
        std::size_t start = muOffset;
        muOffset += msRaw.size();
        release(std::move(msRaw), start);
        msRaw.clear();
        return;
    }
    for (;;) {
        std::size_t length = mFramer(reinterpret_cast<const std::uint8_t*>(msRaw.data()), msRaw.size());
        if (length == 0 || msRaw.size() < length) return;
        std::string unit = msRaw.substr(0, length);
        msRaw.erase(0, length);
        release(std::move(unit), 0);
        ++muUnit;
    }
}

std::size_t ScriptedDevice::readable() const {
    std::size_t left = mReady.size() - muReadAt;
    std::size_t ready = mbHolding ? std::min(muHoldOffset, left) : left;
    return std::min(ready, muChunk);
}

long ScriptedDevice::size() {
    pull();
    return static_cast<long>(readable());
}

bool ScriptedDevice::isEOF() {
    pull();
    return mpInner ? mReady.size() == muReadAt && mpInner->isEOF() : false;
}

bool ScriptedDevice::waitForData(unsigned int ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pull();
        if (readable() > 0) return true;
        if (mbHolding && muHoldOffset == 0 && mReady.size() > muReadAt) {
            std::this_thread::sleep_until(deadline);  // the unit is late by this wait
            if (--miHoldWaits == 0) mbHolding = false;
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (!mpInner || left <= 0 || mpInner->isEOF()) return false;
        mpInner->waitForData(static_cast<unsigned int>(left));
    }
}

long ScriptedDevice::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    if (size() == 0 && (!mpInner || !waitForData(1000))) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(length), readable());
    mReady.copy(buffer, n, muReadAt);
    muReadAt += n;
    if (muReadAt > 4096 && muReadAt * 2 > mReady.size()) {  // drop what was read, now and then
        mReady.erase(0, muReadAt);
        muReadAt = 0;
    }
    if (mbHolding) muHoldOffset -= n;
    return static_cast<long>(n);
}

long ScriptedDevice::write(const char* buffer, long length) {
    ++miWrites;
    if (!mbRecording && !mpInner && mOutbound.empty()) {  // a null sink: nothing to copy
        if (static_cast<std::size_t>(length) >= muMinLength) ++muCounted;
        return length - mlShortBy;
    }
    std::string bytes(buffer, static_cast<std::size_t>(length));
    if (mbRecording) mvWrites.push_back(bytes);
    if (static_cast<std::size_t>(length) >= muMinLength) {
        auto fault = mOutbound.find(muCounted++);
        if (fault != mOutbound.end()) {
            if (fault->second.dropAll) return length - mlShortBy;
            damage(bytes, fault->second.flips, fault->second.drops, 0);
        }
    }
    if (mpInner) mpInner->write(bytes.data(), static_cast<long>(bytes.size()));
    return length - mlShortBy;
}

}  // namespace TestSupport
