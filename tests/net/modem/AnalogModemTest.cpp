// The analog modem's commands per row and setting, and its dialogue with the simulator on a pseudo-terminal.
#include <varonet/net/modem/AnalogModem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include <varonet/base/FifoDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/modem/ModemErrors.h>
#include <varonet/sim/VirtualSerialPair.h>

#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"
#include "support/TestCalls.h"

using Sim::ModemSimulator;
using TestSupport::SimulatedLine;

namespace {
auto onRow(unsigned int row, IO::Device* device = new Base::FifoDevice(0)) {
    return TestSupport::onRow<Net::AnalogModem>(row, device);
}
}  // namespace

// A modem without modem lines on a pseudo-terminal, then the simulator as any program sees it there.
TEST(AnalogModemDialogue, OnAPseudoTerminalHangsUpWithEscapeAndAthAndTheSimulatorAnswersCommands) {
    auto sim = ModemSimulator::onPseudoTerminal();
    TestSupport::apply(*sim, TestSupport::agereV92());
    sim->setGuardTime(300);
    TestSupport::RecordingLogger log;
    {
        Net::AnalogModem modem(
            new Net::StatefulDevice(new IO::SerialDevice(sim->getPortPath(), IO::SerialDevice::Baud115200)), &log);
        modem.setNumber("555");
        modem.setWaitOnConnect(0);
        modem.open();
        EXPECT_FALSE(modem.supportsDTR() || modem.supportsDCD());
        EXPECT_EQ(sim->received(), "AT\rATE0\rATI0\rATI3\rAT&FE0S0=0&K0&D0&C0s95=61\rATX3+ms=V92,1\rATDT555\r");
        EXPECT_TRUE(modem.isOpen() && modem.isConnected()) << "the carrier comes from the CONNECT line";
        OS::StopWatch sinceWrite;  // the guard time counts from the last write
        EXPECT_EQ(modem.write(Base::String("ping")), 4);
        EXPECT_EQ(TestSupport::readFor(modem, 4, 2000), "ping");
        modem.close();
        EXPECT_GE(sinceWrite.getElapsed(), 1100u + 300u) << "guard before and after the escape";
        EXPECT_TRUE(sim->received().endsWith("ping+++ATH\r"));
        EXPECT_FALSE(sim->hasCarrier() || modem.isOpen() || modem.isConnected());
        EXPECT_EQ(sim->farEndReceived(), "ping") << "the escape did not reach the far end";
        EXPECT_TRUE(log.contains("S:+++") && log.contains("E:768"));
    }  // the port is free again
    sim->setConnectSpeed("9600");
    sim->setFarEnd(ModemSimulator::FarEndSink);
    sim->setDialOutcomes("12", {{ModemSimulator::Busy, 0}, {ModemSimulator::Connect, 0}});
    IO::SerialDevice port(sim->getPortPath(), IO::SerialDevice::Baud115200);
    port.open();
    const std::string ok = "\r\nOK\r\n", connect = "\r\nCONNECT 9600\r\n";
    // clang-format off
    const struct { const char* send; std::string reply; } steps[] = {
        {"ATE0 S7? &K3\r", "\r\n7\r\n" + ok}, {"AT&Q\r", "\r\nERROR\r\n"},
        {"ATZ\r", ok}, {"AT&F\r", "AT&F\r" + ok},  // the profile ATZ restores has echo on
        {"ATE0\r", ok},                                 // the line that turns echo off is not echoed
        {"ATDT12\r", "\r\nBUSY\r\n"}, {"ATDP12\r", connect},
        {"x+y++", ""},                                  // plus signs without a guard time are data; a sink answers nothing
        {"+++", ok}, {"ATO\r", connect},                 // after a guard time of silence; back online
    };
    // clang-format on
    for (const auto& s : steps) {
        port.write(Base::String(s.send));
        EXPECT_EQ(TestSupport::readFor(port, std::max<std::size_t>(s.reply.size(), 1), s.reply.empty() ? 400 : 2000),
                  s.reply)
            << s.send;
    }
    EXPECT_TRUE(sim->isOnline() && sim->hasCarrier() && sim->farEndReceived() == "pingx+y++");
}

TEST(AnalogModemCommands, DialStringIsBuiltFromTheSettings) {
    using M = Net::AnalogModem;
    // clang-format off
    const struct { M::EDialingMode mode; const char* outside; unsigned int forLine, onLine; const char* prefix;
                   unsigned int forNetwork; bool flash; const char* expected; } cases[] = {
        {M::DialTone,  "",  0, 0, "",      0, false, "DT555"},
        {M::DialPulse, "",  0, 0, "",      0, false, "DP555"},
        {M::DialTone,  "0", 5, 1, "",      0, false, "DT0W,555"},         // access digits with wait
        {M::DialTone,  "0", 0, 0, "",      0, true,  "DT0555"},           // no wait; flash ignored
        {M::DialPulse, "",  0, 2, "",      0, true,  "DP!W,,555"},        // flash key
        {M::DialPulse, "",  9, 0, "",      0, true,  "DP!W555"},          // flash ignores wait for line
        {M::DialTone,  "9", 2, 1, "01019", 2, false, "DT9W,01019,,555"},  // prefix, pauses
        {M::DialTone,  "",  0, 2, "",      3, false, "DT,,555"},          // pauses without prefix
    };
    // clang-format on
    for (const auto& c : cases) {
        auto modem = onRow(1);
        modem->setDialingMode(c.mode);
        modem->setOutsideLineAccess(c.outside);
        modem->setWaitForLine(c.forLine);
        modem->setWaitOnLine(c.onLine);
        modem->setNetworkPrefix(c.prefix);
        modem->setWaitForNetwork(c.forNetwork);
        modem->setFlashKey(c.flash);
        modem->setNumber("555");
        EXPECT_EQ(modem->getConnectCommand(), c.expected);
    }
}

TEST(AnalogModemCommands, InitAndPreconnectFollowTheRowTheSettingsAndTheSerialPort) {
    // clang-format off
    const struct { unsigned int row; bool preconfigured; Net::EModulationType modulation; unsigned int waitForLine;
                   const char *init, *expectedInit, *expectedPreconnect; } cases[] = {
        {0, false, Net::ModulationAutomatic, 0, "",     "&FE0S0=0&K0&D0&C0",       "X3"},
        {1, false, Net::ModulationAutomatic, 5, "&K3",  "&FE0S0=0&K0&D0&C0s95=61", "X3S6=5+ms=V92,1 &K3"},
        {2, false, Net::ModulationV34,       0, "",     "&FE0S0=0&K0&D0&C0s95=61", "X3+ms=V34,0"},
        {1, true,  Net::ModulationV22bis,    0, "ATM0", "s95=61",                  "X3+ms=V22B,0 ATM0"},
        {0, true,  Net::ModulationV92,       0, "",     "",                        "X3"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto modem = onRow(c.row);
        modem->setPreconfigured(c.preconfigured);
        modem->setModulationType(c.modulation);
        modem->setWaitForLine(c.waitForLine);
        modem->setInitString(c.init);
        EXPECT_EQ(modem->getPreconnectCommands(), c.expectedPreconnect) << c.row;
        EXPECT_EQ(modem->getInitCommands(), c.expectedInit) << c.row;
    }
    Sim::VirtualSerialPair::create("VMODEMINIT1",
                                   "VMODEMINIT2");  // a closed port is asked once whether it has modem lines
    for (const auto& [flow, k] :
         {std::pair{IO::SerialDevice::FlowHardware, "&K3"}, std::pair{IO::SerialDevice::FlowSoftware, "&K4"}}) {
        auto* port = new IO::SerialDevice("VMODEMINIT1", IO::SerialDevice::Baud9600);
        port->setFlowControl(flow);
        auto modem = onRow(1, port);
        EXPECT_EQ(modem->getInitCommands(), std::string("&FE0S0=0") + k + "&D2&C1s95=61");
        EXPECT_FALSE(port->isOpen()) << "asking leaves a closed port closed";
    }
    Sim::VirtualSerialPair::remove("VMODEMINIT1");
}
