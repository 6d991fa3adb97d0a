// A virtual null-modem line with the modem simulator on its far end, and chip identities.
#include "support/ModemTestKit.h"

#include <atomic>

#include <varonet/sim/VirtualSerialPair.h>

namespace TestSupport {

SimulatedLine::SimulatedLine() {
    static std::atomic<int> counter{0};
    int n = ++counter;
    msHost = "VMODEMH" + std::to_string(n);
    msFar = "VMODEMF" + std::to_string(n);
    Sim::VirtualSerialPair::create(msHost, msFar);
    mpSim = Sim::ModemSimulator::onVirtualPort(msFar);
}

SimulatedLine::~SimulatedLine() {
    mpSim.reset();
    Sim::VirtualSerialPair::remove(msHost);
}

std::unique_ptr<IO::SerialDevice> SimulatedLine::makePort(IO::SerialDevice::EFlowControl flow) {
    auto port = std::make_unique<IO::SerialDevice>(msHost, IO::SerialDevice::Baud115200);
    port->setFlowControl(flow);
    return port;
}

void apply(Sim::ModemSimulator& sim, const Identity& identity) { sim.setIdentity(identity.i0, identity.i3); }

std::string flags(const Net::Modem& modem) {
    std::string set = std::string(modem.isCommandMode() ? " command-mode" : "") +
                      (modem.isConnected() ? " connected" : "") + (modem.isHungUp() ? " hung-up" : "") +
                      (modem.isBlacklisted() ? " blacklisted" : "");
    return set.empty() ? set : set.substr(1);
}

std::string describe(Net::Modem& m) {
    return "timeout=" + std::to_string(m.getConnectTimeout()) + " wait=" + std::to_string(m.getWaitOnConnect()) +
           " attempts=" + std::to_string(m.getAttempts()) + " redial=" + std::to_string(m.getRedialWaitingTime()) +
           " delay=" + std::to_string(m.getDelayToDisconnect()) + " init='" + m.getInitString().str() + "'" +
           (m.isPreconfigured() ? " preconfigured" : "");
}

}  // namespace TestSupport
