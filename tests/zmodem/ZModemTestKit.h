#pragma once
// What the ZMODEM tests share: the debug lines of a test, frames as a peer
// writes them, and the headers found on a recorded wire.

#include <algorithm>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <varonet/zmodem/CZModemCore.h>
#include <varonet/zmodem/ZModemDebugSink.h>

#include "support/ScriptedDevice.h"

namespace ZModemTestKit {

/// A core or a session with the framing operations (which only the sessions
/// use) opened for the tests.
template <class T>
struct Opened : T {
    using T::fields, T::getBin32Header, T::getComm, T::getCurrentCh, T::getData, T::getDataBuffer, T::getFile,
        T::getHeaderFormat, T::getHeaderPosition, T::getHeaderType, T::getHexHeader, T::getNextCh, T::getNextDLECh,
        T::getNextHexCh, T::getPosition, T::getZMHeader, T::isHeaderComplete, T::isHeaderSilence, T::noteRoundTrip,
        T::roundTripTimeout, T::sendData32, T::sendHeader, T::sendZACK, T::sendZRINIT, T::setHeader;
    using T::T;
};
using Core = Opened<ZModem::CZModemCore>;

/// Collects the debug lines while it lives.
class DebugLines {
public:
    DebugLines() {
        ZModem::ZModemDebugSink::set([this](const Base::String& line) {
            std::lock_guard<std::mutex> guard(mMutex);
            mLines.push_back(line.str());
        });
    }
    ~DebugLines() { ZModem::ZModemDebugSink::set(nullptr); }
    int count(const std::string& line) {
        std::lock_guard<std::mutex> guard(mMutex);
        return static_cast<int>(std::count(mLines.begin(), mLines.end(), line));
    }

private:
    std::mutex mMutex;
    std::vector<std::string> mLines;
};

/// Bytes dense in what the escaping is about, the rest random.
inline std::string dense(std::size_t n, unsigned seed) {
    const std::string alphabet(
        "\r\x8d@\xc0\x10\x11\x12\x13\x18\x90\x91\x93\x00\x05"
        "A\x7f\xffhkl",
        20);
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() % 3 ? alphabet[gen() % alphabet.size()] : gen());
    return s;
}

/// The escaping rule byte by byte: the seven always escaped, CR (either
/// parity) after an emitted '@' (either parity), with escape-all every
/// control character. previous is the byte emitted before; it becomes the last.
inline std::string escapeByRule(const std::string& data, unsigned char& previous, bool all) {
    std::string wire;
    for (unsigned char c : data) {
        const bool always = c == 0x10 || c == 0x11 || c == 0x13 || c == 0x18 || c == 0x90 || c == 0x91 || c == 0x93;
        if (always || ((c & 0x7F) == 0x0D && (all || (previous & 0x7F) == '@')) || (all && (c & 0x60) == 0))
            wire += '\x18', c ^= 0x40;
        wire += static_cast<char>(previous = c);
    }
    return wire;
}

/// A header as a peer's core writes it (data: ZP0 first, as for a position).
inline std::string frame(int type, unsigned long data = 0, unsigned char format = Core::ZHEX) {
    TestSupport::ScriptedDevice out;
    Core core(&out, false);
    const unsigned char d[4] = {static_cast<unsigned char>(data), static_cast<unsigned char>(data >> 8),
                                static_cast<unsigned char>(data >> 16), static_cast<unsigned char>(data >> 24)};
    core.setHeader(format, type, d);
    core.sendHeader();
    return out.written();
}

/// A data subpacket as a peer's core writes it.
inline std::string sub(const std::string& bytes, unsigned char end = Core::ZCRCW, int escapeAll = 0) {
    TestSupport::ScriptedDevice out;
    Core core(&out, false);
    core.setEscapeAll(escapeAll);
    core.sendData32(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), end);
    return out.written();
}

/// The frame ends of the subpackets on a wire, in order ("kiih").
inline std::string frameEnds(const std::string& wire) {
    std::string ends;
    for (std::size_t at = 0; (at = wire.find('\x18', at) + 1) && at < wire.size();)
        if (wire[at] >= 'h' && wire[at] <= 'k') ends += wire[at];
    return ends;
}

/// A peer that answers in turns: ready at once, then each answer once we
/// have made so many writes (every header and subpacket leaves in one write).
/// It never waits; it notes each wait it was asked for that found nothing ("100 200").
class TurnPeer : public TestSupport::ScriptedDevice {
public:
    TurnPeer(std::string ready, std::vector<std::pair<std::size_t, std::string>> turns)
        : mTurns(std::move(turns)), mReady(std::move(ready)) {}
    long size() override { return static_cast<long>(mReady.size()); }
    bool waitForData(unsigned int ms) override {
        if (mReady.empty() && ms > 0) waits += (waits.empty() ? "" : " ") + std::to_string(ms);
        return !mReady.empty();
    }
    long readInternal(char* buffer, long n) override {
        n = static_cast<long>(mReady.copy(buffer, static_cast<std::size_t>(n)));
        mReady.erase(0, static_cast<std::size_t>(n));
        return n;
    }
    long write(const char* buffer, long n) override {
        n = ScriptedDevice::write(buffer, n);
        for (; mNext < mTurns.size() && mTurns[mNext].first <= writes().size(); ++mNext) mReady += mTurns[mNext].second;
        return n;
    }

    std::string waits;

private:
    std::vector<std::pair<std::size_t, std::string>> mTurns;
    std::string mReady;
    std::size_t mNext = 0;
};

/// The headers on a wire, in order: names, with the position for those that
/// carry one ("ZDATA:1024"), and CANCEL for a cancel sequence.
inline std::string headers(const std::string& wire) {
    TestSupport::ScriptedDevice in(wire);
    Core core(&in, false);
    std::string seen;
    for (int k = 0; k < 200; ++k) {
        int r = core.getZMHeader(1);
        if (r == ZModem::ZModemErrors::ErrCancelled) seen += " CANCEL";
        if (r != 0) {
            if (core.isHeaderSilence()) break;
            continue;
        }
        int type = core.getHeaderType();
        seen += " " + Core::GetHeaderType(type).str();
        if (type == Core::ZDATA || type == Core::ZEOF || type == Core::ZRPOS || type == Core::ZACK)
            seen += ":" + std::to_string(core.getHeaderPosition());
    }
    return seen.empty() ? seen : seen.substr(1);
}

}  // namespace ZModemTestKit
