// The modem simulator as an application sees it: a serial port on a new pseudo-terminal.
#include <varonet/net/modem/ModemSimulator.h>

#include <gtest/gtest.h>

#include <memory>

#include <varonet/base/SerialDevice.h>
#include <varonet/base/StopWatch.h>

#include "support/TestCalls.h"

namespace {
// Sends one command line and returns what came back within ms.
std::string ask(IO::Device& port, const std::string& line, std::size_t count, unsigned int ms = 2000) {
    port.write(Base::String(line));
    return TestSupport::readFor(port, count, ms);
}
}  // namespace

TEST(ModemSimulator, AnswersCommandsDialsAndEscapesOnAPseudoTerminal) {
    auto sim = Net::ModemSimulator::onPseudoTerminal();
    sim->setIdentity({"Sim 1"}, {});
    sim->setGuardTime(100);
    sim->setConnectSpeed("9600");
    IO::SerialDevice port(sim->getPortPath(), IO::SerialDevice::Baud115200);
    port.open();
    EXPECT_EQ(ask(port, "ATI0\r", 20), "ATI0\r\r\nSim 1\r\n\r\nOK\r\n") << "echo, the identity, OK";
    EXPECT_EQ(ask(port, "ATE0 S7? &K3\r", 11), "\r\n7\r\n\r\nOK\r\n") << "the line that turns echo off is not echoed";
    EXPECT_EQ(ask(port, "ATY\r", 9), "\r\nERROR\r\n");
    EXPECT_EQ(ask(port, "AT&Q\r", 9), "\r\nERROR\r\n");
    EXPECT_EQ(ask(port, "ATA\r", 14), "\r\nNO CARRIER\r\n") << "nothing rang";
    EXPECT_EQ(ask(port, "ATZ\r", 6), "\r\nOK\r\n");
    EXPECT_EQ(ask(port, "AT&F\r", 12), "AT&F\r\r\nOK\r\n") << "the stored profile had echo on";
    sim->setEcho(false);
    sim->setFarEnd(Net::ModemSimulator::FarEndSink);
    sim->setDialOutcomes("12", {{Net::ModemSimulator::Busy, 0}, {Net::ModemSimulator::Connect, 0}});
    EXPECT_EQ(ask(port, "ATDT12\r", 8), "\r\nBUSY\r\n");
    EXPECT_EQ(ask(port, "ATDP12\r", 16), "\r\nCONNECT 9600\r\n");
    EXPECT_TRUE(sim->isOnline() && sim->hasCarrier());
    port.write(Base::String("x+y++"));  // plus signs without a guard time are data
    EXPECT_TRUE(sim->waitForFarEnd("x+y++", 2000));
    EXPECT_EQ(TestSupport::readFor(port, 1, 300), "") << "a sink answers nothing";
    OS::StopWatch watch;
    EXPECT_EQ(ask(port, "+++", 6), "\r\nOK\r\n") << "after a guard time of silence";
    EXPECT_GE(watch.getElapsed(), 100u);
    EXPECT_FALSE(sim->isOnline());
    EXPECT_EQ(ask(port, "ATO\r", 16), "\r\nCONNECT 9600\r\n") << "back online";
    sim->hangUpFromFarEnd();
    EXPECT_EQ(TestSupport::readFor(port, 14, 2000), "\r\nNO CARRIER\r\n");
    sim->ring();
    EXPECT_EQ(TestSupport::readFor(port, 8, 2000), "\r\nRING\r\n");
    EXPECT_EQ(ask(port, "ATA\r", 16), "\r\nCONNECT 9600\r\n");
    EXPECT_TRUE(sim->received().startsWith("ATI0\rATE0 S7? &K3\r"));
    EXPECT_EQ(sim->commandLines().front(), "ATI0");
}
