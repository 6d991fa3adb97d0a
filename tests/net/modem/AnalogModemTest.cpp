#include <varonet/net/modem/AnalogModem.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <varonet/base/Exception.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/VirtualSerialPair.h>
#include <varonet/net/modem/ModemErrors.h>
#include "peers/ModemSimulator.h"
#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"
#include "support/PtyPair.h"

using TestSupport::RecordingLogger;
using TestSupport::SimulatedLine;
using Peers::ModemSimulator;

namespace {

// Exposes the command builders.
class OpenAnalogModem : public Net::AnalogModem {
public:
    using Net::AnalogModem::AnalogModem;
    using Net::AnalogModem::getConnectCommand;
    using Net::AnalogModem::getInitCommands;
    using Net::AnalogModem::getPreconnectCommands;
};

// Reads exactly count bytes through the modem, waiting at most ms in all.
std::string readFrom(Net::Modem& modem, std::size_t count, unsigned int ms) {
    OS::StopWatch watch;
    std::string out;
    while (out.size() < count && watch.getElapsed() < ms) {
        if (!modem.waitForData(50)) continue;
        char buffer[64];
        long n = modem.readInternal(buffer, static_cast<long>(std::min(sizeof buffer, count - out.size())));
        if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

TEST(AnalogModemDialogue, FirstOpenOnFreshLineFollowsTheWorkedSequenceThenClosesByDtr) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::agereV92());
    RecordingLogger log;
    auto* stateful = new Net::StatefulDevice(line.makePort(IO::SerialDevice::FlowHardware).release());
    Net::AnalogModem modem(stateful, &log);
    modem.setNumber("555");

    OS::StopWatch watch;
    modem.open();
    EXPECT_GE(watch.getElapsed(), 2000u) << "a multi-step modem without user data waits 2000 ms after connecting";
    EXPECT_EQ(line.sim().received(),
              "AT\r"
              "ATE0\r"
              "ATI0\r"
              "ATI3\r"
              "AT&FE0S0=0&K3&D2&C1s95=61\r"
              "ATX3+ms=V92,1\r"
              "ATDT555\r");
    EXPECT_EQ(stateful->getModemType(), Net::ModemAnalog);
    EXPECT_EQ(stateful->getInterfaceType(), 2u);
    EXPECT_EQ(stateful->getState(), modem.getConfigurationID());
    EXPECT_TRUE(modem.isOpen());
    EXPECT_EQ(modem.getName(), "modem:" + line.hostName() + ":555");

    EXPECT_EQ(modem.write(Base::String("hello")), 5);
    ASSERT_TRUE(line.sim().waitForFarEnd("hello", 2000));
    EXPECT_EQ(readFrom(modem, 5, 2000), "hello");
    line.sim().sendFromFarEnd("world");
    EXPECT_EQ(readFrom(modem, 5, 2000), "world");

    OS::StopWatch sinceWrite;
    modem.close();
    EXPECT_GE(sinceWrite.getElapsed(), 1090u) << "hang-up waits for the delay to disconnect after the last write";
    EXPECT_FALSE(line.sim().hasCarrier());
    EXPECT_FALSE(modem.isOpen());
    EXPECT_TRUE(modem.isHungUp());
    EXPECT_TRUE(stateful->isOpen()) << "close leaves the line open";
    EXPECT_EQ(line.sim().farEndReceived(), "hello") << "no escape sequence when DTR hangs up";

    EXPECT_TRUE(log.contains("S:ATDT555\r"));
    EXPECT_TRUE(log.contains("R:CONNECT 33600\r\n"));
    EXPECT_TRUE(log.contains("E:768"));
    EXPECT_TRUE(log.contains("R:NO CARRIER\r\n"));
    EXPECT_EQ(log.badLevels(Net::ModemLogLevel), 0);
}

TEST(AnalogModemDialogue, OverAPtyHangsUpWithEscapeAndAth) {
    TestSupport::PtyPair pty;
    auto sim = ModemSimulator::onPtyMaster(pty.master(), false);
    TestSupport::apply(*sim, TestSupport::agereV92());
    sim->setGuardTime(300);
    IO::SerialDevice::setPortAlias("PTYMODEM1", pty.slavePath());
    RecordingLogger log;
    auto* stateful = new Net::StatefulDevice(new IO::SerialDevice("PTYMODEM1", IO::SerialDevice::Baud115200));
    Net::AnalogModem modem(stateful, &log);
    modem.setNumber("555");
    modem.setWaitOnConnect(0);

    modem.open();
    EXPECT_FALSE(modem.supportsDTR());
    EXPECT_FALSE(modem.supportsDCD());
    EXPECT_EQ(sim->received(),
              "AT\r"
              "ATE0\r"
              "ATI0\r"
              "ATI3\r"
              "AT&FE0S0=0&K0&D0&C0s95=61\r"
              "ATX3+ms=V92,1\r"
              "ATDT555\r");
    EXPECT_TRUE(modem.isOpen()) << "the carrier comes from the CONNECT line";
    EXPECT_TRUE(modem.isConnected());

    EXPECT_EQ(modem.write(Base::String("ping")), 4);
    EXPECT_EQ(readFrom(modem, 4, 2000), "ping");

    OS::StopWatch sinceWrite;
    modem.close();
    EXPECT_GE(sinceWrite.getElapsed(), 1100u + 300u) << "guard before and after the escape";
    EXPECT_EQ(sim->received().substr(sim->received().size() - 11), "ping+++ATH\r");
    EXPECT_FALSE(sim->hasCarrier());
    EXPECT_FALSE(modem.isOpen());
    EXPECT_FALSE(modem.isConnected());
    EXPECT_TRUE(modem.isCommandMode());
    EXPECT_EQ(sim->farEndReceived(), "ping") << "the escape did not reach the far end";
    EXPECT_TRUE(log.contains("S:+++"));
    EXPECT_TRUE(log.contains("E:768"));
    IO::SerialDevice::removePortAlias("PTYMODEM1");
}

TEST(AnalogModemDialogue, BlacklistedDialIsRetriedAndLaterDialsCarryTheChipsFragment) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::conexant56k());
    line.sim().setDialOutcomes("555", {{ModemSimulator::Blacklisted}, {ModemSimulator::Connect}});
    RecordingLogger log;
    Net::AnalogModem modem(new Net::StatefulDevice(line.makePort().release()), &log);
    modem.setNumber("555");
    modem.setAttempts(2);
    modem.setWaitOnConnect(0);
    modem.setDelayToDisconnect(0);

    modem.open();
    EXPECT_TRUE(modem.isBlacklisted());
    EXPECT_TRUE(log.contains("X:1568"));
    auto lines = line.sim().commandLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "ATDT555") << "the retry repeats the dial command as built";
    EXPECT_EQ(lines.back(), "ATDT555");

    modem.close();
    line.sim().clearRecord();
    modem.open();
    EXPECT_EQ(line.sim().received(), "AT%TCBDT555\r");
    modem.close();
}

// --- command builders ------------------------------------------------------------

TEST(AnalogModemCommands, DialStringIsBuiltFromTheSettings) {
    struct Case {
        unsigned int row;
        Net::AnalogModem::EDialingMode mode;
        const char* outside;
        unsigned int waitForLine, waitOnLine;
        const char* prefix;
        unsigned int waitForNetwork;
        bool flash;
        const char* expected;
    } cases[] = {
        {0, Net::AnalogModem::DialTone, "", 0, 0, "", 0, false, "DT555"},
        {0, Net::AnalogModem::DialPulse, "", 0, 0, "", 0, false, "DP555"},
        {1, Net::AnalogModem::DialTone, "0", 5, 1, "", 0, false, "DT0W,555"},   // access digits with wait
        {1, Net::AnalogModem::DialTone, "0", 0, 0, "", 0, true, "DT0555"},      // no wait; flash ignored
        {2, Net::AnalogModem::DialPulse, "", 0, 2, "", 0, true, "DP!W,,555"},   // flash key
        {2, Net::AnalogModem::DialPulse, "", 9, 0, "", 0, true, "DP!W555"},     // flash ignores wait for line
        {0, Net::AnalogModem::DialTone, "9", 2, 1, "01019", 2, false, "DT9W,01019,,555"},  // prefix, pauses
        {0, Net::AnalogModem::DialTone, "", 0, 2, "", 3, false, "DT,,555"},     // pauses without prefix
    };
    for (const Case& c : cases) {
        auto* line = new Net::StatefulDevice(new Base::FifoDevice(0));
        line->setModemType(Net::ModemAnalog);
        line->setInterfaceType(c.row);
        OpenAnalogModem modem(line, nullptr);
        modem.checkModemType();
        modem.setDialingMode(c.mode);
        modem.setOutsideLineAccess(c.outside);
        modem.setWaitForLine(c.waitForLine);
        modem.setWaitOnLine(c.waitOnLine);
        modem.setNetworkPrefix(c.prefix);
        modem.setWaitForNetwork(c.waitForNetwork);
        modem.setFlashKey(c.flash);
        modem.setNumber("555");
        EXPECT_EQ(modem.getConnectCommand(), c.expected);
    }
}

// Row 1's fragment is checked by the dialogue above; the other rows have none.
TEST(AnalogModemCommands, OtherRowsHaveNoBlacklistFragment) {
    for (unsigned int row : {0u, 2u}) {
        SimulatedLine line;
        line.sim().setEcho(false);
        line.sim().setDefaultOutcome({ModemSimulator::Blacklisted});
        auto* stateful = new Net::StatefulDevice(line.makePort().release());
        stateful->setModemType(row == 0 ? Net::ModemUnknown : Net::ModemAnalog);
        stateful->setInterfaceType(row);
        OpenAnalogModem modem(stateful, nullptr);
        modem.setNumber("555");
        modem.setPreinitialized(true);
        modem.setAttempts(2);
        EXPECT_THROW(modem.open(), Base::Exception);
        ASSERT_TRUE(modem.isBlacklisted());
        modem.checkModemType();
        EXPECT_EQ(modem.getConnectCommand(), "DT555") << "row " << row;
    }
}

TEST(AnalogModemCommands, InitAndPreconnectFollowTheRowAndSettings) {
    struct Case {
        unsigned int row;
        bool preconfigured;
        Net::EModulationType modulation;
        unsigned int waitForLine;
        const char* init;
        const char* expectedInit;
        const char* expectedPreconnect;
    } cases[] = {
        {0, false, Net::ModulationAutomatic, 0, "", "&FE0S0=0&K0&D0&C0", "X3"},
        {1, false, Net::ModulationAutomatic, 5, "&K3", "&FE0S0=0&K0&D0&C0s95=61", "X3S6=5+ms=V92,1 &K3"},
        {2, false, Net::ModulationV34, 0, "", "&FE0S0=0&K0&D0&C0s95=61", "X3+ms=V34,0"},
        {1, true, Net::ModulationV22bis, 0, "ATM0", "s95=61", "X3+ms=V22B,0 ATM0"},
        {0, true, Net::ModulationV92, 0, "", "", "X3"},
    };
    for (const Case& c : cases) {
        auto* line = new Net::StatefulDevice(new Base::FifoDevice(0));
        line->setModemType(c.row == 0 ? Net::ModemUnknown : Net::ModemAnalog);
        line->setInterfaceType(c.row);
        OpenAnalogModem modem(line, nullptr);
        modem.setPreconfigured(c.preconfigured);
        modem.setModulationType(c.modulation);
        modem.setWaitForLine(c.waitForLine);
        modem.setInitString(c.init);
        EXPECT_EQ(modem.getPreconnectCommands(), c.expectedPreconnect) << "row " << c.row;
        EXPECT_EQ(modem.getInitCommands(), c.expectedInit) << "row " << c.row;
    }
}

TEST(AnalogModemCommands, StandardInitialisationFollowsTheSerialPort) {
    IO::VirtualSerialPair::create("VMODEMINIT1", "VMODEMINIT2");
    struct Case {
        IO::SerialDevice::EFlowControl flow;
        const char* expected;
    } cases[] = {
        {IO::SerialDevice::FlowHardware, "&FE0S0=0&K3&D2&C1s95=61"},
        {IO::SerialDevice::FlowSoftware, "&FE0S0=0&K4&D2&C1s95=61"},
        {IO::SerialDevice::FlowNone, "&FE0S0=0&K0&D2&C1s95=61"},
    };
    for (const Case& c : cases) {
        auto* port = new IO::SerialDevice("VMODEMINIT1", IO::SerialDevice::Baud9600);
        port->setFlowControl(c.flow);
        auto* line = new Net::StatefulDevice(port);
        line->setModemType(Net::ModemAnalog);
        line->setInterfaceType(1);
        OpenAnalogModem modem(line, nullptr);
        modem.checkModemType();
        EXPECT_TRUE(modem.supportsDTR()) << "a closed port is asked once whether it has modem lines";
        EXPECT_EQ(modem.getInitCommands(), c.expected);
        EXPECT_FALSE(port->isOpen()) << "asking leaves a closed port closed";
    }
    IO::VirtualSerialPair::remove("VMODEMINIT1");
}

}  // namespace
