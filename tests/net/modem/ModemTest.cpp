// The AT command engine against the simulator: identification, dialling, hang-up, multi-step and shared lines.
#include <varonet/net/modem/Modem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include <varonet/base/StopWatch.h>
#include <varonet/net/modem/AnalogModem.h>
#include <varonet/net/modem/IsdnModem.h>
#include <varonet/net/modem/ModemErrors.h>

#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"
#include "support/TestCalls.h"

using Sim::ModemSimulator;
using TestSupport::codeOf;

namespace {

// A modem (analog unless told) on a simulated line with echo off, calling "555" without waits.
template <class ModemClass = Net::AnalogModem>
struct Dial {
    explicit Dial(bool preinitialized = true, Net::EModemtypes type = Net::ModemUnchecked, unsigned int row = 0) {
        line.sim().setEcho(false);  // as the modem's set-up (or ATZ's stored profile) leaves it
        stateful->setModemType(type);
        stateful->setInterfaceType(row);
        modem->setNumber("555");
        modem->setPreinitialized(preinitialized);  // a set-up line: open dials at once
        modem->setWaitOnConnect(0);
        modem->setDelayToDisconnect(0);
    }
    long count(const std::string& entry) {
        const auto lines = log.entries();
        return std::count(lines.begin(), lines.end(), entry);
    }
    // Proves that nothing else was sent: a marker written straight to the far end is all the record holds.
    void expectNothingSent() {
        port->open();
        port->write(Base::String("#MARK\r"));
        ASSERT_TRUE(line.sim().waitForReceived("#MARK\r", 2000));
        EXPECT_EQ(line.sim().received(), "#MARK\r");
    }
    TestSupport::SimulatedLine line;
    TestSupport::RecordingLogger log;
    IO::SerialDevice* port = line.makePort().release();
    Net::StatefulDevice* stateful = new Net::StatefulDevice(port);
    std::unique_ptr<ModemClass> modem = std::make_unique<ModemClass>(stateful, &log);
};

}  // namespace

TEST(ModemIdentification, FindsTheTableRowOncePerLine) {
    // clang-format off
    const struct { const char* name; TestSupport::Identity identity; Net::EModemtypes type; unsigned int row; } cases[] = {
        {"isdn row 1 even with 56000", TestSupport::isdnTaPlus(), Net::ModemIsdn, 1},
        {"isdn row 2", TestSupport::isdnAl5068(), Net::ModemIsdn, 2},
        {"analog row 1", TestSupport::conexant56k(), Net::ModemAnalog, 1},
        {"analog row 2", TestSupport::agereV92(), Net::ModemAnalog, 2},
        {"generic", {}, Net::ModemUnknown, 0},
        {"error reply", {{"ERROR"}, {"ERROR"}}, Net::ModemUnknown, 0},
        {"empty and + lines skipped", {{"", "+CME: ERROR", "Agere OCM V.92"}, {"Agere OCM V.92"}}, Net::ModemAnalog, 2},
        {"chip name on the second line", {{"Modem Inc.", "Agere OCM V.92"}, {"Agere OCM V.92"}}, Net::ModemUnknown, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dial<> f(false);
        f.line.sim().setEcho(true);
        TestSupport::apply(f.line.sim(), c.identity);
        EXPECT_EQ(f.modem->checkModemType(), c.type);
        EXPECT_EQ(f.line.sim().received(), "AT\rATE0\rATI0\rATI3\r");
        EXPECT_TRUE(!f.port->isOpen() && f.log.errors().empty()) << "identification closes the line it opened";
        f.line.sim().clearRecord();  // a second modem on the line gets the stored answer without a dialogue
        Net::Modem second(f.stateful, nullptr, false, false);
        EXPECT_TRUE(second.checkModemType() == c.type && second.getInterfaceType() == c.row);
        f.expectNothingSent();
    }
}

TEST(ModemIdentification, SilentModemIsNotRespondingAndPreconfiguredOneIsNotAsked) {
    Dial<> silent(false);
    silent.line.sim().setSilent(true);
    OS::StopWatch watch;
    EXPECT_EQ(silent.modem->checkModemType(), Net::ModemNotResponding);
    EXPECT_GE(watch.getElapsed(), 1000u + 3000u) << "wake-up wait, then the E0 reply time";
    EXPECT_EQ(silent.line.sim().received(), "AT\rATE0\r");
    EXPECT_EQ(silent.log.errors(), std::vector<unsigned int>{Net::ErrModemNoReply});
    Dial<> preconfigured(false);
    preconfigured.modem->setPreconfigured(true);
    EXPECT_EQ(preconfigured.modem->checkModemType(), Net::ModemUnchecked);
    preconfigured.modem->initialize();  // no identification and an empty set-up: nothing to send
    preconfigured.expectNothingSent();
}

TEST(ModemDialling, OutcomesOfTheDialWithRetries) {
    using S = ModemSimulator;
    // clang-format off
    const struct { S::EOutcome outcome; int attempts; bool dcdWired; unsigned int code; long dials, logged;
                   bool commandMode; unsigned int minMs; } cases[] = {
        {S::Busy,        3, true,  Net::ErrModemBusy,               3, 2, true,  2000},  // retried after 1 s, the last one thrown
        {S::NoDialtone,  3, true,  Net::ErrModemNoDialtone,         1, 0, true,  0},     // never retried
        {S::NoCarrier,   2, true,  Net::ErrModemNoCarrier,          2, 1, true,  1000},
        {S::Error,       1, true,  Net::ErrModemDialFailed,         1, 0, true,  0},
        {S::Blacklisted, 1, true,  Net::ErrModemBlacklisted,        1, 0, true,  0},     // only a retried one marks the modem
        {S::Silence,     1, true,  Base::TimeoutException::Code,    1, 0, false, 300},   // no reply inverts the command mode
        {S::Connect,     1, false, Net::ErrModemNotOpenAfterDial,   1, 0, true,  1000},  // CONNECT without DCD
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        Dial<> f;
        f.line.sim().setDefaultOutcome({c.outcome});
        f.line.sim().setDcdWired(c.dcdWired);
        f.modem->setAttempts(c.attempts);
        f.modem->setAttempts(0);  // ignored
        f.modem->setRedialWaitingTime(1);
        f.modem->setConnectTimeout(300);
        OS::StopWatch watch;
        EXPECT_EQ(codeOf([&] { f.modem->open(); }), c.code);
        EXPECT_TRUE(watch.getElapsed() >= c.minMs && watch.getElapsed() < c.minMs + 1500u)
            << "no wait after the last attempt";
        EXPECT_TRUE(long(f.line.sim().commandLines().size()) == c.dials && long(f.log.errors().size()) == c.logged);
        EXPECT_EQ(f.modem->isCommandMode(), c.commandMode);
        EXPECT_FALSE(f.modem->isOpen() || f.modem->isBlacklisted());
    }
}

TEST(ModemDialling, RetriedBlacklistedDialMarksTheModemAndOnlyRowOneAddsAFragment) {
    for (unsigned int row : {1u, 0u, 2u}) {
        Dial<TestSupport::CommandsOf<Net::AnalogModem>> f(true, row ? Net::ModemAnalog : Net::ModemUnknown, row);
        f.line.sim().setDialOutcomes("555", {{ModemSimulator::Blacklisted}, {ModemSimulator::Connect}});
        f.modem->setAttempts(2);
        f.modem->checkModemType();  // takes the row the line was identified as
        f.modem->open();
        EXPECT_TRUE(f.modem->isBlacklisted());
        EXPECT_EQ(f.line.sim().received(), "ATDT555\rATDT555\r") << "the retry repeats the dial command as built";
        f.modem->close();
        EXPECT_EQ(f.modem->getConnectCommand(), row == 1 ? "%TCBDT555" : "DT555") << row;
    }
}

TEST(ModemDialling, LostCarrierIsNoticedAndAHangUpWithoutReplyThrowsFromCloseButNotTheDestructor) {
    Dial<> f;
    char c = 0;
    EXPECT_EQ(codeOf([&] { f.modem->readInternal(&c, 1); }), Net::ErrModemNotConnected) << "no connection yet";
    f.line.sim().setDefaultOutcome({ModemSimulator::Connect, 400});
    f.modem->open();
    ASSERT_TRUE(f.modem->isOpen() && !f.modem->isCommandMode());
    f.line.sim().hangUpFromFarEnd();
    ASSERT_TRUE(f.line.sim().waitForCarrier(false, 2000));
    EXPECT_EQ(f.modem->write("x", 1), 0);
    EXPECT_TRUE(f.modem->isHungUp() && f.modem->isCommandMode()) << "DCD low: back in command mode";
    EXPECT_EQ(codeOf([&] { f.modem->waitForData(0); }), Net::ErrModemNotConnected);
    EXPECT_TRUE(f.modem->isEOF() && f.modem->size() == 0);
    f.line.sim().clearRecord();
    f.modem->close();  // hung up already: nothing to say
    f.expectNothingSent();
    f.line.sim().setDtrHangupReply("");
    f.modem->open();
    EXPECT_EQ(codeOf([&] { f.modem->close(); }), Net::ErrModemNoReply);
    EXPECT_TRUE(f.modem->isHungUp() && !f.modem->isConnected() && !f.line.sim().hasCarrier());
    f.modem->open();
    f.modem.reset();
    EXPECT_EQ(f.count("E:768"), 2);
    EXPECT_EQ(f.log.errors(), (std::vector<unsigned int>{Net::ErrModemNoReply})) << "the destructor only logs it";
}

TEST(ModemDialling, MultiStepConnectExchangesUserDataOrClosesWithoutConfirmation) {
    for (bool confirms : {true, false}) {
        Dial<Net::IsdnModem>
            f;  // a modem made multi-step keeps a confirmation time-out of 0: the 2000 ms floor applies
        f.line.sim().setNetwork("DATEX-P: 44 4000 49", "COM", confirms);
        f.modem->setProtocol(Net::IsdnPPP);
        f.modem->setMultiStepConnect(true);
        f.modem->setUserData("NUI ABC123");
        f.modem->setWaitOnConnect(2000);  // the wait for the greeting ends when it comes
        OS::StopWatch watch;
        EXPECT_EQ(codeOf([&] { f.modem->open(); }), confirms ? 0u : Net::ErrModemNoNetworkConfirmation);
        EXPECT_TRUE(f.line.sim().farEndReceived() == "NUI ABC123\r" && f.count("S:NUI ABC123\r") == 1);
        EXPECT_TRUE(f.modem->isOpen() == confirms && f.count("E:768") == !confirms)
            << "a failed exchange closes the connection";
        EXPECT_TRUE(confirms ? watch.getElapsed() < 1500u : watch.getElapsed() >= 2000u);
        EXPECT_EQ(f.modem->getName(), "isdnmodem:" + f.line.hostName() + ":555/NUI ABC123");
    }
}

TEST(ModemCommands, InitStringPiecesEscapeAndResultLines) {
    struct Exposed : Net::AnalogModem {
        using Net::AnalogModem::AnalogModem;
        using Net::Modem::sendCommand;
    };
    Dial<Exposed> f(false, Net::ModemUnknown);  // identified before: generic row
    f.modem->setInitString("ATZ  at&K3 ATS0=0");
    f.line.sim().setGuardTime(200);
    f.line.sim().setDtrHangupReply("OK");
    f.modem->open();
    EXPECT_EQ(f.line.sim().received(), "AT&FE0S0=0&K0&D2&C1\rATX3\rATZ\rAT&K3\rATS0=0\rATDT555\r");
    OS::StopWatch sinceWrite;  // the guard time counts from the last write
    f.modem->write(Base::String("data"));
    ASSERT_TRUE(f.line.sim().waitForFarEnd("data", 2000));
    f.line.sim().clearRecord();
    f.stateful->setState(0);  // a ring check with a changed configuration sends commands while the call stands
    f.modem->checkForRing(0);
    EXPECT_GE(sinceWrite.getElapsed(), 1100u);
    EXPECT_EQ(f.line.sim().received(), "+++ATX3\rATZ\rAT&K3\rATS0=0\r") << "no AT or CR after the escape";
    EXPECT_TRUE(f.line.sim().farEndReceived().isEmpty() && f.modem->isCommandMode())
        << "the escape does not reach the far end";
    f.line.sim().setIdentity({}, {"LOOKUP TABLE"});
    Base::String response;
    // clang-format off
    const struct { const char* command; bool acceptAny, echo; const char* response; bool connected, commandMode; } steps[] = {
        {"Y9", false, false, "ERROR\r\n", true, true},         // a reply with ERROR counts as connected
        {"I0", true, false, "OK\r\n", true, true},             // an empty first line is skipped
        {"I3", false, false, "LOOKUP TABLE\r\n", true, true},  // any line with the letters OK counts as OK
        {"Q0", false, true, "ATQ0\r\r\n", true, false},        // an echoed command is an unknown reply: inverted
    };
    // clang-format on
    for (const auto& s : steps) {
        f.line.sim().setEcho(s.echo);
        f.modem->sendCommand(s.command, {.attempts = 1, .acceptAny = s.acceptAny, .response = &response});
        EXPECT_TRUE(response == s.response && f.modem->isConnected() == s.connected &&
                    f.modem->isCommandMode() == s.commandMode)
            << s.command;
    }
}

TEST(ModemSharedLine, ModemsTakeConfigurationIdsForceSetUpOnEachOtherAndCopiesShareTheLine) {
    Dial<> f;
    TestSupport::apply(f.line.sim(), TestSupport::agereV92());
    Net::AnalogModem& first = *f.modem;
    Net::AnalogModem second(f.stateful, nullptr, false);
    first.setWaitOnConnect(100);
    OS::StopWatch watch;
    first.open();
    EXPECT_GE(watch.getElapsed(), 100u) << "the wait after connecting";
    second.setPreinitialized(true);  // another configuration takes the line
    EXPECT_TRUE(f.line.sim().hasCarrier() && !first.isOpen()) << "the line is in another configuration";
    EXPECT_TRUE(first.isHungUp() && first.isIncomingConfigurationRequired());
    first.setPreinitialized(true);
    EXPECT_TRUE(first.isOpen() && f.stateful->getState() == first.getConfigurationID());
    first.close();
    for (const char* entry : {"S:ATDT555\r", "R:CONNECT 33600\r\n", "E:768", "R:NO CARRIER\r\n"})
        EXPECT_TRUE(f.log.contains(entry)) << entry;
    EXPECT_EQ(f.log.badLevels(Net::ModemLogLevel), 0);
    first.setUserData("NUI");  // a copy carries every setting (the configuration ID too) and shares the line
    first.setModulationType(Net::ModulationV34);
    first.setRingDetected(true);
    Net::AnalogModem copy(first);
    second = first;
    for (const Net::AnalogModem* m : {&copy, &second})
        EXPECT_TRUE(m->getSettings() == first.getSettings() && m->getModulationType() == Net::ModulationV34 &&
                    m->getUnderlying() == f.stateful);
    EXPECT_FALSE(copy.ownsUnderlying());
}
