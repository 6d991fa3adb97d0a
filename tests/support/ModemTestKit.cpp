#include "support/ModemTestKit.h"

#include <algorithm>
#include <atomic>

#include <varonet/base/VirtualSerialPair.h>
#include <varonet/net/modem/ModemErrors.h>

namespace ModemTestKit {

void RecordingLogger::logString(unsigned int id, const Base::String& text, int level) {
    std::lock_guard<std::mutex> guard(mMutex);
    if (level != Net::ModemLogLevel) ++miBadLevels;
    if (id == Net::LogModemSent) mEntries.push_back("S:" + text.str());
    else if (id == Net::LogModemReceived) mEntries.push_back("R:" + text.str());
    else mEntries.push_back("?" + std::to_string(id) + ":" + text.str());
}

void RecordingLogger::logArray(unsigned int id, const Base::ByteArray&, int) {
    std::lock_guard<std::mutex> guard(mMutex);
    mEntries.push_back("A:" + std::to_string(id));
}

void RecordingLogger::logEvent(unsigned int id, int level) {
    std::lock_guard<std::mutex> guard(mMutex);
    if (level != Net::ModemLogLevel) ++miBadLevels;
    mEntries.push_back("E:" + std::to_string(id));
}

void RecordingLogger::logError(unsigned int code, int level) {
    std::lock_guard<std::mutex> guard(mMutex);
    if (level != 0) ++miBadLevels;
    mEntries.push_back("X:" + std::to_string(code));
}

std::vector<std::string> RecordingLogger::entries() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return mEntries;
}

bool RecordingLogger::contains(const std::string& entry) const {
    std::lock_guard<std::mutex> guard(mMutex);
    return std::find(mEntries.begin(), mEntries.end(), entry) != mEntries.end();
}

int RecordingLogger::badLevels() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return miBadLevels;
}

SimulatedLine::SimulatedLine() {
    static std::atomic<int> counter{0};
    int n = ++counter;
    msHost = "VMODEMH" + std::to_string(n);
    msFar = "VMODEMF" + std::to_string(n);
    IO::VirtualSerialPair::create(msHost, msFar);
    mpSim = Peers::ModemSimulator::onVirtualPort(msFar);
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

Identity agereV92() { return {{"Agere OCM V.92"}, {"Agere OCM V.92"}}; }
Identity conexant56k() { return {{"56000"}, {"CX81802"}}; }
Identity isdnTaPlus() { return {{"TA+ 56000 ISDN"}, {"V2.41"}}; }
Identity isdnAl5068() { return {{"AL5068S"}, {"V 1.33"}}; }

void apply(Peers::ModemSimulator& sim, const Identity& identity) { sim.setIdentity(identity.i0, identity.i3); }

}  // namespace ModemTestKit
