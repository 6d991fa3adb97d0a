// The modem simulator is a peer of the modem tests; these tests pin down the
// behaviour the modem tests rely on.
#include "peers/ModemSimulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/SerialDevice.h"
#include "base/StopWatch.h"
#include "support/ModemTestKit.h"

using ModemTestKit::SimulatedLine;
using Peers::ModemSimulator;

namespace {

// Reads what arrives within ms (until the text ends with until, when given).
std::string collect(IO::SerialDevice& port, unsigned int ms, const std::string& until) {
    OS::StopWatch watch;
    std::string out;
    while (watch.getElapsed() < ms) {
        if (!port.waitForData(20)) continue;
        char buffer[128];
        long n = port.readInternal(buffer, std::min<long>(port.size(), sizeof buffer));
        out.append(buffer, static_cast<std::size_t>(n));
        if (!until.empty() && out.size() >= until.size() && out.compare(out.size() - until.size(), until.size(), until) == 0)
            break;
    }
    return out;
}

std::string command(IO::SerialDevice& port, const std::string& line, const std::string& until = "\r\n") {
    port.write(Base::String(line));
    return collect(port, 2000, until);
}

TEST(ModemSimulator, EchoesUntilE0AndAnswersIdentification) {
    SimulatedLine line;
    ModemTestKit::apply(line.sim(), ModemTestKit::agereV92());
    auto port = line.makePort();
    port->open();
    EXPECT_EQ(command(*port, "AT\r", "OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(command(*port, "ATE0\r", "OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(command(*port, "ati0\r", "OK\r\n"), "\r\nAgere OCM V.92\r\n\r\nOK\r\n");
    EXPECT_EQ(command(*port, "ATQ0V1X3&K3S7=50\r", "OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(command(*port, "ATY9\r", "\r\n"), "\r\nERROR\r\n");
    EXPECT_EQ(command(*port, "ATZ\r", "OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(command(*port, "AT\r", "OK\r\n"), "AT\r\r\nOK\r\n") << "ATZ restored the stored echo (on)";
    EXPECT_EQ(line.sim().commandLines().size(), 7u);
}

TEST(ModemSimulator, ConnectRaisesDcdAndEscapeNeedsTheGuardTime) {
    SimulatedLine line;
    line.sim().setEcho(false);
    line.sim().setGuardTime(200);
    auto port = line.makePort();
    port->open();
    EXPECT_FALSE(port->readDCD());
    EXPECT_EQ(command(*port, "ATDT1\r"), "\r\nCONNECT 33600\r\n");
    EXPECT_TRUE(port->readDCD());
    // "+++" straight after data is data (echoed by the far end).
    EXPECT_EQ(command(*port, "x+++", "x+++"), "x+++");
    EXPECT_EQ(collect(*port, 400, ""), "") << "no OK for an escape without the guard before it";
    // After the guard time it is an escape, answered after the guard time that follows.
    port->write(Base::String("+++"));
    OS::StopWatch watch;
    EXPECT_EQ(collect(*port, 2000, "OK\r\n"), "\r\nOK\r\n");
    EXPECT_GE(watch.getElapsed(), 190u);
    EXPECT_EQ(line.sim().farEndReceived(), "x+++");
    EXPECT_TRUE(port->readDCD()) << "online command mode keeps the call";
    EXPECT_EQ(command(*port, "ATO\r"), "\r\nCONNECT 33600\r\n");
    // A DTR drop (with &D2) ends the call.
    port->toggleDTR(false);
    EXPECT_EQ(collect(*port, 2000, "NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_FALSE(port->readDCD());
}

TEST(ModemSimulator, ScriptedOutcomesRingsAndFarEndHangUp) {
    SimulatedLine line;
    line.sim().setEcho(false);
    line.sim().setDialOutcomes("7", {{ModemSimulator::Busy}, {ModemSimulator::NoDialtone}, {ModemSimulator::Connect}});
    auto port = line.makePort();
    port->open();
    EXPECT_EQ(command(*port, "ATDP7\r"), "\r\nBUSY\r\n");
    EXPECT_EQ(command(*port, "ATDT7\r"), "\r\nNO DIALTONE\r\n");
    EXPECT_EQ(command(*port, "ATD7\r"), "\r\nCONNECT 33600\r\n");
    line.sim().hangUpFromFarEnd();
    EXPECT_EQ(collect(*port, 2000, "NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(command(*port, "ATA\r"), "\r\nNO CARRIER\r\n") << "nothing rang";
    line.sim().ring();
    EXPECT_EQ(collect(*port, 2000, "RING\r\n"), "\r\nRING\r\n");
    EXPECT_EQ(command(*port, "ATA\r"), "\r\nCONNECT 33600\r\n");
    EXPECT_TRUE(port->readDCD());
    EXPECT_EQ(line.sim().received(), "ATDP7\rATDT7\rATD7\rATA\rATA\r");
}

TEST(ModemSimulator, PacketNetworkGreetsAndConfirms) {
    SimulatedLine line;
    line.sim().setEcho(false);
    line.sim().setNetwork("DATEX-P: 1", "COM", true);
    auto port = line.makePort();
    port->open();
    EXPECT_EQ(command(*port, "ATD1\r", "DATEX-P: 1\r\n"), "\r\nCONNECT 33600\r\n\r\nDATEX-P: 1\r\n");
    EXPECT_EQ(command(*port, "user\r", "COM\r\n"), "\r\nCOM\r\n");
    EXPECT_EQ(line.sim().farEndReceived(), "user\r");
}

}  // namespace
