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
        modem.open();  // without DCD the carrier comes from the CONNECT line
        // No modem lines: "&D0&C0".
        EXPECT_EQ(sim->received(), "AT\rATE0\rATI0\rATI3\rAT&FE0S0=0&K0&D0&C0s95=61\rATX3+ms=V92,1\rATDT555\r");
        OS::StopWatch sinceWrite;  // the guard time counts from the last write
        EXPECT_EQ(modem.write(Base::String("ping")), 4);
        EXPECT_EQ(TestSupport::readFor(modem, 4, 2000), "ping");
        modem.close();
        EXPECT_GE(sinceWrite.getElapsed(), 1100u + 300u) << "guard before and after the escape";
        EXPECT_TRUE(sim->received().endsWith("ping+++ATH\r"));
        EXPECT_FALSE(sim->hasCarrier());
        EXPECT_FALSE(modem.isConnected());
        EXPECT_TRUE(log.contains("S:+++"));
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
    EXPECT_TRUE(sim->isOnline());
    EXPECT_EQ(sim->farEndReceived(), "pingx+y++");
}

TEST(AnalogModemCommands, DialStringIsBuiltFromTheSettings) {
    using M = Net::AnalogModem;
    // clang-format off
    const struct { M::EDialingMode mode = M::DialTone; const char *outside = "", *prefix = "";
                   unsigned int forLine = 0, onLine = 0, forNetwork = 0; bool flash = false; const char* expected; } cases[] = {
        {.expected = "DT555"},
        {.mode = M::DialPulse, .expected = "DP555"},
        {.outside = "0", .forLine = 5, .onLine = 1, .expected = "DT0W,555"},            // access digits with wait
        {.outside = "0", .flash = true, .expected = "DT0555"},                          // no wait; flash ignored
        {.mode = M::DialPulse, .onLine = 2, .flash = true, .expected = "DP!W,,555"},    // flash key
        {.mode = M::DialPulse, .forLine = 9, .flash = true, .expected = "DP!W555"},     // flash ignores wait for line
        {.outside = "9", .prefix = "01019", .forLine = 2, .onLine = 1, .forNetwork = 2, .expected = "DT9W,01019,,555"},
        {.onLine = 2, .forNetwork = 3, .expected = "DT,,555"},                          // pauses without prefix
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
    const struct { unsigned int row; bool preconfigured = false; Net::EModulationType modulation = Net::ModulationAutomatic;
                   unsigned int waitForLine = 0; const char *init = "", *setUp, *preconnect; } cases[] = {
        {.row = 0, .setUp = "&FE0S0=0&K0&D0&C0", .preconnect = "X3"},
        {.row = 1, .waitForLine = 5, .init = "&K3", .setUp = "&FE0S0=0&K0&D0&C0s95=61", .preconnect = "X3S6=5+ms=V92,1 &K3"},
        {.row = 2, .modulation = Net::ModulationV34, .setUp = "&FE0S0=0&K0&D0&C0s95=61", .preconnect = "X3+ms=V34,0"},
        {.row = 1, .preconfigured = true, .modulation = Net::ModulationV22bis, .init = "ATM0", .setUp = "s95=61", .preconnect = "X3+ms=V22B,0 ATM0"},
        {.row = 0, .preconfigured = true, .modulation = Net::ModulationV92, .setUp = "", .preconnect = "X3"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto modem = onRow(c.row);
        modem->setPreconfigured(c.preconfigured);
        modem->setModulationType(c.modulation);
        modem->setWaitForLine(c.waitForLine);
        modem->setInitString(c.init);
        EXPECT_EQ(modem->getPreconnectCommands(), c.preconnect) << c.row;
        EXPECT_EQ(modem->getInitCommands(), c.setUp) << c.row;
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
