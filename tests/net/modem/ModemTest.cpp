#include <varonet/net/modem/Modem.h>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <varonet/base/Exception.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/modem/AnalogModem.h>
#include <varonet/net/modem/IsdnModem.h>
#include <varonet/net/modem/ModemErrors.h>
#include "peers/ModemSimulator.h"
#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"

using TestSupport::Identity;
using TestSupport::RecordingLogger;
using TestSupport::SimulatedLine;
using Peers::ModemSimulator;

namespace {

using TestSupport::codeOf;

// Proves that nothing else was sent: a marker written straight to the far end is all the record holds.
void expectNothingSentBut(SimulatedLine& line, IO::Device& port, const std::string& before) {
    bool opened = !port.isOpen();
    if (opened) port.open();
    port.write(Base::String("#MARK\r"));
    ASSERT_TRUE(line.sim().waitForReceived("#MARK\r", 2000));
    EXPECT_EQ(line.sim().received(), before + "#MARK\r");
    if (opened) port.close();
}

// --- identification --------------------------------------------------------------------

struct IdentityCase {
    const char* name;
    Identity identity;
    Net::EModemtypes type;
    unsigned int interfaceType;
};

class ModemIdentification : public testing::TestWithParam<IdentityCase> {};

TEST_P(ModemIdentification, FindsTheTableRow) {
    const IdentityCase& c = GetParam();
    SimulatedLine line;
    TestSupport::apply(line.sim(), c.identity);
    RecordingLogger log;
    auto* port = line.makePort().release();
    auto* stateful = new Net::StatefulDevice(port);
    Net::Modem modem(stateful, &log, false);

    EXPECT_EQ(modem.checkModemType(), c.type);
    EXPECT_EQ(stateful->getModemType(), c.type);
    EXPECT_EQ(stateful->getInterfaceType(), c.interfaceType);
    EXPECT_EQ(modem.getInterfaceType(), c.interfaceType);
    EXPECT_EQ(line.sim().received(), "AT\rATE0\rATI0\rATI3\r");
    EXPECT_FALSE(port->isOpen()) << "identification closes the line it opened";
    EXPECT_FALSE(line.sim().isEchoOn());
    for (const std::string& entry : log.entries()) EXPECT_NE(entry[0], 'X') << entry;

    // Asked once per line: a second modem on it gets the stored answer without a dialogue.
    line.sim().clearRecord();
    Net::Modem second(stateful, nullptr, false, false);
    EXPECT_EQ(second.checkModemType(), c.type);
    EXPECT_EQ(second.getInterfaceType(), c.interfaceType);
    expectNothingSentBut(line, *port, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ModemIdentification,
    testing::Values(IdentityCase{"isdnRow1EvenWith56000", TestSupport::isdnTaPlus(), Net::ModemIsdn, 1},
                    IdentityCase{"isdnRow2", TestSupport::isdnAl5068(), Net::ModemIsdn, 2},
                    IdentityCase{"analogRow1", TestSupport::conexant56k(), Net::ModemAnalog, 1},
                    IdentityCase{"analogRow2", TestSupport::agereV92(), Net::ModemAnalog, 2},
                    IdentityCase{"genericOk", Identity{}, Net::ModemUnknown, 0},
                    IdentityCase{"errorReply", Identity{{"ERROR"}, {"ERROR"}}, Net::ModemUnknown, 0},
                    IdentityCase{"emptyAndPlusLinesSkipped", Identity{{"", "+CME: ERROR", "Agere OCM V.92"}, {"Agere OCM V.92"}},
                                 Net::ModemAnalog, 2},
                    IdentityCase{"chipNameOnSecondLine", Identity{{"Modem Inc.", "Agere OCM V.92"}, {"Agere OCM V.92"}},
                                 Net::ModemUnknown, 0}),
    [](const testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.name); });

TEST(ModemIdentificationEdge, SilentModemIsNotRespondingLoggedAndNeverThrows) {
    SimulatedLine line;
    line.sim().setSilent(true);
    RecordingLogger log;
    auto* stateful = new Net::StatefulDevice(line.makePort().release());
    Net::Modem modem(stateful, &log, false);
    OS::StopWatch watch;
    EXPECT_EQ(modem.checkModemType(), Net::ModemNotResponding);
    EXPECT_GE(watch.getElapsed(), 1000u + 3000u) << "wake-up wait, then the E0 reply time";
    EXPECT_EQ(stateful->getModemType(), Net::ModemNotResponding);
    EXPECT_EQ(modem.getInterfaceType(), 0u);
    EXPECT_EQ(line.sim().received(), "AT\rATE0\r");
    EXPECT_TRUE(log.contains("X:1549"));
}

TEST(ModemIdentificationEdge, PreconfiguredModemIsNotIdentifiedUntilTheLineIsReset) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::agereV92());
    auto* port = line.makePort().release();
    auto* stateful = new Net::StatefulDevice(port);
    Net::AnalogModem modem(stateful, nullptr);
    modem.setPreconfigured(true);
    EXPECT_EQ(modem.checkModemType(), Net::ModemUnchecked);
    modem.initialize();  // no identification and an empty set-up: nothing to send
    expectNothingSentBut(line, *port, "");

    modem.setPreconfigured(false);
    stateful->setModemType(Net::ModemUnchecked);
    line.sim().clearRecord();
    EXPECT_EQ(modem.checkModemType(), Net::ModemAnalog);
    EXPECT_EQ(line.sim().received(), "AT\rATE0\rATI0\rATI3\r");
}

// --- dialling outcomes -------------------------------------------------------------------

// An analog modem on a simulated line with echo off, calling "555" without waits.
struct DialFixture {
    SimulatedLine line;
    RecordingLogger log;
    IO::SerialDevice* port;
    Net::StatefulDevice* stateful;
    std::unique_ptr<Net::AnalogModem> modem;
    explicit DialFixture(bool preinitialized = true, Net::EModemtypes type = Net::ModemUnchecked)
        : port(line.makePort().release()), stateful(new Net::StatefulDevice(port)) {
        line.sim().setEcho(false);  // as the modem's set-up (or ATZ's stored profile) leaves it
        stateful->setModemType(type);
        modem = std::make_unique<Net::AnalogModem>(stateful, &log);
        modem->setNumber("555");
        modem->setPreinitialized(preinitialized);  // a set-up line: open dials at once
        modem->setWaitOnConnect(0);
        modem->setDelayToDisconnect(0);
    }
    int dials() {
        int n = 0;
        for (const auto& l : line.sim().commandLines()) n += l == "ATDT555";
        return n;
    }
};

TEST(ModemDialling, BusyIsRedialledAfterTheWaitingTimeAndReachesTheCaller) {
    DialFixture f;
    f.line.sim().setDefaultOutcome({ModemSimulator::Busy});
    f.modem->setAttempts(3);
    f.modem->setRedialWaitingTime(1);
    OS::StopWatch watch;
    EXPECT_EQ(codeOf([&] { f.modem->open(); }), Net::ErrModemBusy);
    EXPECT_GE(watch.getElapsed(), 2000u);
    EXPECT_LT(watch.getElapsed(), 3900u) << "no waiting after the last attempt";
    EXPECT_EQ(f.dials(), 3);
    int logged = 0;
    for (const auto& e : f.log.entries()) logged += e == "X:1552";
    EXPECT_EQ(logged, 2) << "the two retried attempts are logged, the last one is thrown";
    EXPECT_TRUE(f.modem->isCommandMode());
    EXPECT_FALSE(f.modem->isConnected());
}

TEST(ModemDialling, FailuresOfTheDial) {
    struct Case {
        ModemSimulator::EOutcome outcome;
        int attempts;
        bool dcdWired;
        unsigned int code;
        int dials;
        bool commandMode;  // afterwards
        unsigned int minMs;
    } cases[] = {
        {ModemSimulator::NoDialtone, 3, true, Net::ErrModemNoDialtone, 1, true, 0},  // never retried
        {ModemSimulator::NoCarrier, 2, true, Net::ErrModemNoCarrier, 2, true, 0},
        {ModemSimulator::Error, 1, true, Net::ErrModemDialFailed, 1, true, 0},
        // Only a retried BLACKLISTED marks the modem: the last attempt's does not.
        {ModemSimulator::Blacklisted, 1, true, Net::ErrModemBlacklisted, 1, true, 0},
        // No reply in time inverts the command mode.
        {ModemSimulator::Silence, 1, true, Base::TimeoutException::Code, 1, false, 300},
        // CONNECT without DCD fails after a second; DCD low means command mode.
        {ModemSimulator::Connect, 1, false, Net::ErrModemNotOpenAfterDial, 1, true, 1000},
    };
    for (const Case& c : cases) {
        DialFixture f;
        f.line.sim().setDefaultOutcome({c.outcome});
        f.line.sim().setDcdWired(c.dcdWired);
        f.modem->setAttempts(c.attempts);
        f.modem->setConnectTimeout(300);
        OS::StopWatch watch;
        EXPECT_EQ(codeOf([&] { f.modem->open(); }), c.code) << "outcome " << c.outcome;
        EXPECT_GE(watch.getElapsed(), c.minMs) << "outcome " << c.outcome;
        EXPECT_EQ(f.dials(), c.dials) << "outcome " << c.outcome;
        EXPECT_EQ(f.modem->isCommandMode(), c.commandMode) << "outcome " << c.outcome;
        EXPECT_FALSE(f.modem->isOpen());
        EXPECT_FALSE(f.modem->isBlacklisted());
    }
}

TEST(ModemDialling, DelayedConnectThenLostCarrierIsNoticedByTheNextDataOperation) {
    DialFixture f;
    f.line.sim().setDefaultOutcome({ModemSimulator::Connect, 400});
    f.modem->open();
    ASSERT_TRUE(f.modem->isOpen());
    EXPECT_TRUE(f.log.contains("R:CONNECT 33600\r\n"));
    EXPECT_FALSE(f.modem->isCommandMode());
    f.line.sim().hangUpFromFarEnd();
    ASSERT_TRUE(f.line.sim().waitForCarrier(false, 2000));
    EXPECT_EQ(f.modem->write("x", 1), 0);
    EXPECT_TRUE(f.modem->isHungUp());
    EXPECT_TRUE(f.modem->isCommandMode()) << "DCD low puts the modem back in command mode";
    EXPECT_EQ(codeOf([&] { f.modem->waitForData(0); }), Net::ErrModemNotConnected);
    EXPECT_TRUE(f.modem->isEOF());
    f.modem->close();  // hung up already: nothing to say
    EXPECT_EQ(f.line.sim().farEndReceived(), "");
}

TEST(ModemDialling, HangUpByDtrWithoutReplyThrowsFromCloseAndIsOnlyLoggedByTheDestructor) {
    DialFixture f;
    f.line.sim().setDtrHangupReply("");
    f.modem->open();
    EXPECT_EQ(codeOf([&] { f.modem->close(); }), Net::ErrModemNoReply);
    EXPECT_TRUE(f.modem->isHungUp());
    EXPECT_FALSE(f.modem->isConnected());
    EXPECT_FALSE(f.line.sim().hasCarrier());

    f.modem->open();
    std::size_t before = f.log.entries().size();
    f.modem.reset();
    std::vector<std::string> after = f.log.entries();
    after.erase(after.begin(), after.begin() + static_cast<long>(before));
    EXPECT_NE(std::find(after.begin(), after.end(), "E:768"), after.end());
    EXPECT_NE(std::find(after.begin(), after.end(), "X:1549"), after.end());
    EXPECT_FALSE(f.line.sim().hasCarrier());
}

TEST(ModemDialling, MultiStepConnectExchangesUserDataWithThePacketNetwork) {
    DialFixture f;
    f.line.sim().setNetwork("DATEX-P: 44 4000 49", "COM", true);
    f.modem->setUserData("NUI ABC123");
    f.modem->setWaitOnConnect(2000);  // the wait for the greeting ends when it comes
    OS::StopWatch watch;
    f.modem->open();
    EXPECT_LT(watch.getElapsed(), 1500u);
    EXPECT_TRUE(f.modem->isOpen());
    EXPECT_EQ(f.line.sim().farEndReceived(), "NUI ABC123\r");
    EXPECT_TRUE(f.log.contains("S:NUI ABC123\r"));
    EXPECT_EQ(f.modem->getName(), "modem:" + f.line.hostName() + ":555/NUI ABC123");
    f.modem->close();
}

TEST(ModemDialling, MissingNetworkConfirmationClosesTheConnection) {
    SimulatedLine line;
    line.sim().setEcho(false);
    line.sim().setNetwork("DATEX-P: 44 4000 49", "COM", false);
    RecordingLogger log;
    Net::IsdnModem modem(new Net::StatefulDevice(line.makePort().release()), &log);
    modem.setProtocol(Net::IsdnPPP);
    modem.setMultiStepConnect(true);  // confirmation time-out stays 0: the 2000 ms floor applies
    modem.setNumber("555");
    modem.setUserData("NUI X");
    modem.setPreinitialized(true);
    modem.setDelayToDisconnect(0);
    OS::StopWatch watch;
    EXPECT_EQ(codeOf([&] { modem.open(); }), Net::ErrModemNoNetworkConfirmation);
    EXPECT_GE(watch.getElapsed(), 2000u);
    EXPECT_TRUE(line.sim().waitForCarrier(false, 2000));
    EXPECT_FALSE(modem.isOpen());
    EXPECT_TRUE(log.contains("E:768"));
    EXPECT_EQ(line.sim().farEndReceived(), "NUI X\r");
}

// --- commands and lines ----------------------------------------------------------------------

TEST(ModemCommands, InitStringPiecesGoOutAsSeparateCommandLines) {
    DialFixture f(false, Net::ModemUnknown);  // identified before: generic row
    f.modem->setInitString("ATZ  at&K3 ATS0=0");
    f.modem->open();
    EXPECT_EQ(f.line.sim().received(), "AT&FE0S0=0&K0&D2&C1\rATX3\rATZ\rAT&K3\rATS0=0\rATDT555\r");
    f.modem->close();
}

TEST(ModemCommands, DataPathNeedsAConnection) {
    DialFixture f;
    char c = 0;
    EXPECT_EQ(codeOf([&] { f.modem->readInternal(&c, 1); }), Net::ErrModemNotConnected);
    EXPECT_EQ(codeOf([&] { f.modem->waitForData(0); }), Net::ErrModemNotConnected);
    EXPECT_EQ(f.modem->write("x", 1), 0);
    EXPECT_EQ(f.modem->size(), 0);
    EXPECT_TRUE(f.modem->isEOF());
    f.modem->close();  // never connected: nothing to say to the modem
    expectNothingSentBut(f.line, *f.port, "");
}

TEST(ModemCommands, EscapeBeforeACommandInDataModeWaitsForTheGuardTime) {
    DialFixture f(true, Net::ModemUnknown);
    f.line.sim().setGuardTime(200);
    f.line.sim().setDtrHangupReply("OK");
    f.modem->open();
    f.modem->write(Base::String("data"));
    ASSERT_TRUE(f.line.sim().waitForFarEnd("data", 2000));
    OS::StopWatch sinceWrite;
    f.line.sim().clearRecord();
    // A ring check with a changed configuration sends commands while the call stands.
    f.stateful->setState(0);
    f.modem->checkForRing(0);
    EXPECT_GE(sinceWrite.getElapsed(), 1100u);
    EXPECT_EQ(f.line.sim().received(), "+++ATX3\r") << "no AT or CR after the escape";
    EXPECT_EQ(f.line.sim().farEndReceived(), "") << "the escape does not reach the far end";
    EXPECT_TRUE(f.modem->isCommandMode());
}

TEST(ModemCommands, ResultLinesMoveTheFlagsAsTheStateTableSays) {
    struct Exposed : Net::Modem {
        using Net::Modem::Modem;
        using Net::Modem::sendCommand;
    };
    SimulatedLine line;
    line.sim().setEcho(false);
    Exposed modem(new Net::StatefulDevice(line.makePort().release()), nullptr, false);
    Base::String response;
    modem.sendCommand("Y9", 0, true, 1, false, &response, false);
    EXPECT_EQ(response, "ERROR\r\n");
    EXPECT_TRUE(modem.isConnected()) << "a reply with ERROR counts as connected";
    EXPECT_TRUE(modem.isCommandMode());
    modem.sendCommand("I0", 0, true, 1, false, &response, true);
    EXPECT_EQ(response, "OK\r\n") << "empty first line skipped";
    EXPECT_TRUE(modem.isCommandMode());
    line.sim().setIdentity({}, {"LOOKUP TABLE"});
    modem.sendCommand("I3", 0, true, 1, false, &response, false);
    EXPECT_EQ(response, "LOOKUP TABLE\r\n") << "any line with the letters OK counts as OK";
    EXPECT_TRUE(modem.isCommandMode());
    line.sim().setEcho(true);
    modem.sendCommand("Q0", 0, true, 1, false, &response, false);
    EXPECT_EQ(response, "ATQ0\r\r\n") << "an echoed command is an unknown reply";
    EXPECT_FALSE(modem.isCommandMode()) << "an unknown reply inverts the command mode";
}

// --- the shared line ---------------------------------------------------------------------------

TEST(ModemSharedLine, ModemsTakeConfigurationIdsAndForceSetUpOnEachOther) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::agereV92());
    std::unique_ptr<Net::StatefulDevice> stateful(new Net::StatefulDevice(line.makePort().release()));
    Net::AnalogModem first(stateful.get(), nullptr, false);
    Net::AnalogModem second(stateful.get(), nullptr, false);
    Net::IsdnModem third(stateful.get(), nullptr, false);
    EXPECT_EQ(first.getConfigurationID(), 1u);
    EXPECT_EQ(second.getConfigurationID(), 2u);
    EXPECT_EQ(third.getConfigurationID(), 3u);

    first.setNumber("555");
    first.setWaitOnConnect(0);
    first.setDelayToDisconnect(0);
    first.open();
    ASSERT_TRUE(first.isOpen());
    EXPECT_TRUE(first.isIncomingConfigurationRequired() == false);

    second.setPreinitialized(true);  // another configuration takes the line
    EXPECT_TRUE(line.sim().hasCarrier());
    EXPECT_FALSE(first.isOpen()) << "the line is in another configuration";
    EXPECT_TRUE(first.isHungUp());
    EXPECT_TRUE(first.isIncomingConfigurationRequired());

    first.setPreinitialized(true);
    EXPECT_TRUE(first.isOpen());
    first.close();
    EXPECT_FALSE(line.sim().hasCarrier());

    second.setPreinitialized(true);
    line.sim().clearRecord();
    first.open();
    EXPECT_EQ(line.sim().received(),
              "AT&FE0S0=0&K0&D2&C1s95=61\r"
              "ATX3+ms=V92,1\r"
              "ATDT555\r")
        << "set-up again, identification not again";
    first.close();
}

}  // namespace
