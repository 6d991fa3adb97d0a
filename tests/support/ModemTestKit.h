#pragma once
// Helpers for modem tests: a virtual null-modem line with a simulator on its
// far end, and the identities of the chips the identification tables know.

#include <memory>
#include <string>
#include <vector>

#include <varonet/base/SerialDevice.h>
#include <varonet/net/modem/ModemSimulator.h>

namespace TestSupport {

/// A virtual null-modem pair with a simulator on its far end. The host end's
/// port name is hostName; it is not opened here.
class SimulatedLine {
public:
    SimulatedLine();
    ~SimulatedLine();
    const std::string& hostName() const { return msHost; }
    Net::ModemSimulator& sim() { return *mpSim; }
    /// A serial device on the host end (closed), with the given flow control.
    std::unique_ptr<IO::SerialDevice> makePort(IO::SerialDevice::EFlowControl flow = IO::SerialDevice::FlowNone);

private:
    std::string msHost, msFar;
    std::unique_ptr<Net::ModemSimulator> mpSim;
};

struct Identity {
    std::vector<Base::String> i0, i3;
};
Identity agereV92();     ///< analog row 2
Identity conexant56k();  ///< analog row 1
Identity isdnTaPlus();   ///< ISDN row 1 (its I0 also says 56000)
Identity isdnAl5068();   ///< ISDN row 2
void apply(Net::ModemSimulator& sim, const Identity& identity);

}  // namespace TestSupport
