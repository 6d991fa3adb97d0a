#pragma once
// Helpers for modem tests: a logger that records the dialogue, a virtual
// null-modem line with a simulator on its far end, and the identities of
// the chips the identification tables know.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <varonet/base/Logger.h>
#include <varonet/base/SerialDevice.h>
#include "peers/ModemSimulator.h"

namespace ModemTestKit {

/// Records every report as text: "S:<text>", "R:<text>", "E:<id>", "X:<code>"; checks the level.
class RecordingLogger : public Log::Logger {
public:
    void logString(unsigned int id, const Base::String& text, int level) override;
    void logArray(unsigned int id, const Base::ByteArray& bytes, int level) override;
    void logEvent(unsigned int id, int level) override;
    void logError(unsigned int code, int level) override;

    std::vector<std::string> entries() const;
    bool contains(const std::string& entry) const;
    /// Reports with a level other than the one their kind must carry.
    int badLevels() const;

private:
    mutable std::mutex mMutex;
    std::vector<std::string> mEntries;
    int miBadLevels = 0;
};

/// A virtual null-modem pair with a simulator on its far end. The host end's
/// port name is hostName; it is not opened here.
class SimulatedLine {
public:
    SimulatedLine();
    ~SimulatedLine();
    const std::string& hostName() const { return msHost; }
    Peers::ModemSimulator& sim() { return *mpSim; }
    /// A serial device on the host end (closed), with the given flow control.
    std::unique_ptr<IO::SerialDevice> makePort(IO::SerialDevice::EFlowControl flow = IO::SerialDevice::FlowNone);

private:
    std::string msHost, msFar;
    std::unique_ptr<Peers::ModemSimulator> mpSim;
};

struct Identity {
    std::vector<std::string> i0, i3;
};
Identity agereV92();     ///< analog row 2
Identity conexant56k();  ///< analog row 1
Identity isdnTaPlus();   ///< ISDN row 1 (its I0 also says 56000)
Identity isdnAl5068();   ///< ISDN row 2
void apply(Peers::ModemSimulator& sim, const Identity& identity);

}  // namespace ModemTestKit
