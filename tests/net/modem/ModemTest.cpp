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
    const struct { const char* name; TestSupport::Identity identity; Net::EModemtypes type; unsigned int row = 0;
                   bool silent = false; const char* received = "AT\rATE0\rATI0\rATI3\r"; std::vector<unsigned int> errors = {};
                   unsigned int minMs = 0; } cases[] = {
        {.name = "isdn row 1 even with 56000", .identity = TestSupport::isdnTaPlus(), .type = Net::ModemIsdn, .row = 1},
        {.name = "isdn row 2", .identity = TestSupport::isdnAl5068(), .type = Net::ModemIsdn, .row = 2},
        {.name = "analog row 1", .identity = TestSupport::conexant56k(), .type = Net::ModemAnalog, .row = 1},
        {.name = "analog row 2", .identity = TestSupport::agereV92(), .type = Net::ModemAnalog, .row = 2},
        {.name = "generic", .identity = {}, .type = Net::ModemUnknown},
        {.name = "error reply", .identity = {{"ERROR"}, {"ERROR"}}, .type = Net::ModemUnknown},
        {.name = "empty and + lines skipped", .identity = {{"", "+CME: ERROR", "Agere OCM V.92"}, {"Agere OCM V.92"}},
         .type = Net::ModemAnalog, .row = 2},
        {.name = "chip name on the second line", .identity = {{"Modem Inc.", "Agere OCM V.92"}, {"Agere OCM V.92"}}, .type = Net::ModemUnknown},
        // The wake-up wait, then the E0 reply time, and no more questions.
        {.name = "silent", .identity = {}, .type = Net::ModemNotResponding, .silent = true, .received = "AT\rATE0\r",
         .errors = {Net::ErrModemNoReply}, .minMs = 1000 + 3000},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dial<> f(false);
        f.line.sim().setEcho(true);
        f.line.sim().setSilent(c.silent);
        TestSupport::apply(f.line.sim(), c.identity);
        OS::StopWatch watch;
        EXPECT_EQ(f.modem->checkModemType(), c.type);
        EXPECT_GE(watch.getElapsed(), c.minMs);
        EXPECT_EQ(f.line.sim().received(), c.received);
        EXPECT_FALSE(f.port->isOpen()) << "identification closes the line it opened";
        EXPECT_EQ(f.log.errors(), c.errors);
        f.line.sim().clearRecord();  // a second modem on the line gets the stored answer without a dialogue
        Net::Modem second(f.stateful, nullptr, false, Net::Modem::SharesLine);
        EXPECT_EQ(second.checkModemType(), c.type);
        EXPECT_EQ(second.getInterfaceType(), c.row);
        f.expectNothingSent();
    }
}

TEST(ModemIdentification, PreconfiguredModemIsNotAsked) {
    Dial<> preconfigured(false);
    preconfigured.modem->setPreconfigured(true);
    EXPECT_EQ(preconfigured.modem->checkModemType(), Net::ModemUnchecked);
    preconfigured.modem->initialize();  // no identification and an empty set-up: nothing to send
    preconfigured.expectNothingSent();
}

TEST(ModemDialling, OutcomesOfTheDialWithRetries) {
    using S = ModemSimulator;
    // clang-format off
    // flags: the engine's state afterwards; a single dial is not marked blacklisted.
    const struct { S::EOutcome outcome; int attempts = 1; unsigned int code; std::size_t dials = 1, logged = 0;
                   unsigned int minMs = 0; bool dcdWired = true; std::string flags = "command-mode hung-up"; } cases[] = {
        {.outcome = S::Busy, .attempts = 3, .code = Net::ErrModemBusy, .dials = 3, .logged = 2, .minMs = 2000},  // 1 s between
        {.outcome = S::NoDialtone, .attempts = 3, .code = Net::ErrModemNoDialtone},  // never retried
        {.outcome = S::NoCarrier, .attempts = 2, .code = Net::ErrModemNoCarrier, .dials = 2, .logged = 1, .minMs = 1000},
        {.outcome = S::Error, .code = Net::ErrModemDialFailed, .flags = "command-mode connected hung-up"},  // ERROR: a call
        {.outcome = S::Blacklisted, .code = Net::ErrModemBlacklisted},
        {.outcome = S::Silence, .code = Base::TimeoutException::Code, .minMs = 300, .flags = "hung-up"},  // mode inverted
        {.outcome = S::Connect, .code = Net::ErrModemNotOpenAfterDial, .minMs = 1000, .dcdWired = false,  // no DCD
         .flags = "command-mode connected hung-up"},
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
        EXPECT_GE(watch.getElapsed(), c.minMs);
        EXPECT_LT(watch.getElapsed(), c.minMs + 1500u) << "no wait after the last attempt";
        EXPECT_EQ(f.line.sim().commandLines().size(), c.dials);
        EXPECT_EQ(f.log.errors().size(), c.logged);
        EXPECT_EQ(TestSupport::flags(*f.modem), c.flags);  // hung up: the open found no connection
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
    EXPECT_EQ(TestSupport::flags(*f.modem), "connected");
    f.line.sim().hangUpFromFarEnd();
    ASSERT_TRUE(f.line.sim().waitForCarrier(false, 2000));
    EXPECT_EQ(f.modem->write("x", 1), 0);
    EXPECT_EQ(TestSupport::flags(*f.modem), "command-mode connected hung-up") << "DCD low: back in command mode";
    EXPECT_EQ(codeOf([&] { f.modem->waitForData(0); }), Net::ErrModemNotConnected);
    EXPECT_TRUE(f.modem->isEOF());
    f.line.sim().clearRecord();
    f.modem->close();  // hung up already: nothing to say
    f.expectNothingSent();
    f.line.sim().setDtrHangupReply("");
    f.modem->open();
    EXPECT_EQ(codeOf([&] { f.modem->close(); }), Net::ErrModemNoReply);
    EXPECT_EQ(TestSupport::flags(*f.modem), "command-mode hung-up") << "the mode inverted by the silence";
    EXPECT_FALSE(f.line.sim().hasCarrier());
    f.modem->open();
    f.modem.reset();
    EXPECT_EQ(f.count("E:768"), 2);
    EXPECT_EQ(f.log.errors(), (std::vector<unsigned int>{Net::ErrModemNoReply})) << "the destructor only logs it";
}

TEST(ModemDialling, MultiStepConnectExchangesUserDataOrClosesWithoutConfirmation) {
    for (bool confirms : {true, false}) {
        Dial<Net::IsdnModem>
            f;  // a modem made multi-step keeps a confirmation time-out of 0: the 2000 ms floor applies
        f.line.sim().setNetwork({.greeting = "DATEX-P: 44 4000 49", .confirms = confirms});
        f.modem->setProtocol(Net::IsdnPPP);
        f.modem->setMultiStepConnect(true);
        f.modem->setUserData("NUI ABC123");
        f.modem->setWaitOnConnect(2000);  // the wait for the greeting ends when it comes
        OS::StopWatch watch;
        EXPECT_EQ(codeOf([&] { f.modem->open(); }), confirms ? 0u : Net::ErrModemNoNetworkConfirmation);
        EXPECT_EQ(f.line.sim().farEndReceived(), "NUI ABC123\r");
        EXPECT_EQ(f.count("S:NUI ABC123\r"), 1);
        EXPECT_EQ(f.modem->isOpen(), confirms) << "a failed exchange closes the connection";
        EXPECT_EQ(f.count("E:768"), confirms ? 0 : 1);
        if (confirms) EXPECT_LT(watch.getElapsed(), 1500u) << "the confirmation ends the wait";
        else EXPECT_GE(watch.getElapsed(), 2000u);
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
    EXPECT_EQ(f.line.sim().farEndReceived(), "") << "the escape does not reach the far end";
    EXPECT_TRUE(f.modem->isCommandMode());
    f.line.sim().setIdentity({}, {"LOOKUP TABLE"});
    Base::String response;
    // clang-format off
    // The call still stands (connected) while these commands run.
    const struct { const char* command; bool acceptAny = false, echo = false; const char* response;
                   std::string flags = "command-mode connected"; } steps[] = {
        {.command = "Y9", .response = "ERROR\r\n"},                   // a plain command accepts ERROR
        {.command = "I0", .acceptAny = true, .response = "OK\r\n"},    // an empty first line is skipped
        {.command = "I3", .response = "LOOKUP TABLE\r\n"},            // any line with the letters OK counts as OK
        {.command = "Q0", .echo = true, .response = "ATQ0\r\r\n", .flags = "connected"},  // echo: unknown reply, inverted
    };
    // clang-format on
    for (const auto& s : steps) {
        f.line.sim().setEcho(s.echo);
        f.modem->sendCommand(s.command, {.attempts = 1, .acceptAny = s.acceptAny, .response = &response});
        EXPECT_EQ(response, s.response) << s.command;
        EXPECT_EQ(TestSupport::flags(*f.modem), s.flags) << s.command;
    }
}

TEST(ModemSharedLine, ModemsTakeConfigurationIdsForceSetUpOnEachOtherAndCopiesShareTheLine) {
    Dial<> f;
    TestSupport::apply(f.line.sim(), TestSupport::agereV92());
    Net::AnalogModem& first = *f.modem;
    Net::AnalogModem second(f.stateful, nullptr, Net::Modem::SharesLine);
    first.setWaitOnConnect(100);
    OS::StopWatch watch;
    first.open();
    EXPECT_GE(watch.getElapsed(), 100u) << "the wait after connecting";
    second.setPreinitialized(true);  // another configuration takes the line
    EXPECT_TRUE(f.line.sim().hasCarrier());
    EXPECT_FALSE(first.isOpen()) << "the line is in another configuration";
    EXPECT_TRUE(first.isHungUp());
    EXPECT_TRUE(first.isIncomingConfigurationRequired());
    first.setPreinitialized(true);
    EXPECT_TRUE(first.isOpen());
    EXPECT_EQ(f.stateful->getState(), first.getConfigurationID());
    first.close();
    for (const char* entry : {"S:ATDT555\r", "R:CONNECT 33600\r\n", "E:768", "R:NO CARRIER\r\n"})
        EXPECT_TRUE(f.log.contains(entry)) << entry;
    EXPECT_EQ(f.log.badLevels(Net::ModemLogLevel), 0);
    first.setUserData("NUI");  // a copy carries every setting (the configuration ID too) and shares the line
    first.setModulationType(Net::ModulationV34);
    first.setRingDetected(true);
    Net::AnalogModem copy(first);
    second = first;
    for (const Net::AnalogModem* m : {&copy, &second}) {
        EXPECT_TRUE(m->getSettings() == first.getSettings());
        EXPECT_EQ(m->getModulationType(), Net::ModulationV34);
        EXPECT_EQ(m->getUnderlying(), f.stateful);
    }
    EXPECT_FALSE(copy.ownsUnderlying());
}
