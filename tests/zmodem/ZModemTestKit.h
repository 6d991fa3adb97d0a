#pragma once
// What the ZMODEM tests share: the debug lines of a test, frames as a peer
// writes them, and the headers found on a recorded wire.

#include <algorithm>
#include <mutex>
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
        T::getNextHexCh, T::getPosition, T::getZMHeader, T::isHeaderComplete, T::isHeaderSilence, T::sendData32,
        T::sendHeader, T::sendZACK, T::sendZRINIT, T::setHeader;
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
