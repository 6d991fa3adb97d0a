#include "support/ModemTestKit.h"

#include <atomic>

#include <varonet/base/VirtualSerialPair.h>

namespace TestSupport {

SimulatedLine::SimulatedLine() {
    static std::atomic<int> counter{0};
    int n = ++counter;
    msHost = "VMODEMH" + std::to_string(n);
    msFar = "VMODEMF" + std::to_string(n);
    IO::VirtualSerialPair::create(msHost, msFar);
    mpSim = Net::ModemSimulator::onVirtualPort(msFar);
}

SimulatedLine::~SimulatedLine() {
    mpSim.reset();
    IO::VirtualSerialPair::remove(msHost);
}

std::unique_ptr<IO::SerialDevice> SimulatedLine::makePort(IO::SerialDevice::EFlowControl flow) {
    auto port = std::make_unique<IO::SerialDevice>(msHost, IO::SerialDevice::Baud115200);
    port->setFlowControl(flow);
    return port;
}

void apply(Net::ModemSimulator& sim, const Identity& identity) { sim.setIdentity(identity.i0, identity.i3); }

}  // namespace TestSupport
