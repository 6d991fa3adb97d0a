#pragma once
// Helpers for modem tests: a virtual null-modem line with a simulator on its
// far end, and the identities of the chips the identification tables know.

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <varonet/base/FifoDevice.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/net/modem/IsdnModem.h>
#include <varonet/sim/ModemSimulator.h>

namespace TestSupport {

/// A virtual null-modem pair with a simulator on its far end. The host end's
/// port name is hostName; it is not opened here.
class SimulatedLine {
public:
    SimulatedLine();
    ~SimulatedLine();
    const std::string& hostName() const { return msHost; }
    Sim::ModemSimulator& sim() { return *mpSim; }
    /// A serial device on the host end (closed), with the given flow control.
    std::unique_ptr<IO::SerialDevice> makePort(IO::SerialDevice::EFlowControl flow = IO::SerialDevice::FlowNone);

private:
    std::string msHost, msFar;
    std::unique_ptr<Sim::ModemSimulator> mpSim;
};

struct Identity {
    std::vector<Base::String> i0, i3;
};
inline Identity agereV92() { return {{"Agere OCM V.92"}, {"Agere OCM V.92"}}; }  ///< analog row 2
inline Identity conexant56k() { return {{"56000"}, {"CX81802"}}; }               ///< analog row 1
inline Identity isdnTaPlus() { return {{"TA+ 56000 ISDN"}, {"V2.41"}}; }  ///< ISDN row 1 (its I0 also says 56000)
inline Identity isdnAl5068() { return {{"AL5068S"}, {"V 1.33"}}; }        ///< ISDN row 2
void apply(Sim::ModemSimulator& sim, const Identity& identity);

/// The engine's flags that are set, by name, for assertions that name them:
/// "command-mode connected hung-up blacklisted".
std::string flags(const Net::Modem& modem);
/// The settings a modem's dial command does not show, named the same way:
/// "timeout=0 wait=0 attempts=2 redial=0 delay=0 init=''".
std::string describe(Net::Modem& modem);

/// A modem of class M with its command builders exposed.
template <class M>
struct CommandsOf : M {
    using M::getConnectCommand;
    using M::getInitCommands;
    using M::getPreconnectCommands;
    using M::M;
};

/// A modem of class M on a line identified before as the given row of M's kind
/// (row 0: the generic row), over device (a FIFO unless given).
template <class M>
std::unique_ptr<CommandsOf<M>> onRow(unsigned int row, IO::Device* device = new Base::FifoDevice(0)) {
    auto* line = new Net::StatefulDevice(device);
    line->setModemType(row == 0                            ? Net::ModemUnknown
                       : std::is_same_v<M, Net::IsdnModem> ? Net::ModemIsdn
                                                           : Net::ModemAnalog);
    line->setInterfaceType(row);
    auto modem = std::make_unique<CommandsOf<M>>(line, nullptr);
    modem->checkModemType();
    return modem;
}

}  // namespace TestSupport
