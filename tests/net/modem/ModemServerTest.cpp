// Modem servers answering simulated rings: one call at a time, the line's lock, and the call modems' manager.
#include <varonet/net/modem/ModemServer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>

#include <varonet/base/FifoDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/Thread.h>
#include <varonet/net/modem/AnalogModemServer.h>
#include <varonet/net/modem/IsdnModemServer.h>

#include "support/CountingDeviceManager.h"
#include "support/ModemTestKit.h"
#include "support/TestCalls.h"

namespace {

// An analog server over a simulated line whose modem says nothing to identify itself (generic row).
struct Served {
    Served() { line.sim().setEcho(false); }
    // The first poll sets the line up for answering; a ring that came before would be cleared with the input.
    void setUp() {
        EXPECT_FALSE(server.waitForConnection(0));
        ASSERT_TRUE(line.sim().waitForReceived("ATX3\r", 2000));
    }
    std::unique_ptr<Net::Modem> answer() {
        line.sim().ring();
        std::unique_ptr<Net::Modem> call(dynamic_cast<Net::Modem*>(server.accept()));
        if (call) call->setDelayToDisconnect(0);
        return call;
    }
    // What holds the line, by name: an active call, its lock, the carrier; "" when the line is free.
    std::string holders() {
        return std::string(server.isCallActive() ? "call " : "") + (stateful->isLocked() ? "lock " : "") +
               (line.sim().hasCarrier() ? "carrier" : "");
    }
    TestSupport::SimulatedLine line;
    Net::StatefulDevice* stateful = new Net::StatefulDevice(line.makePort().release());
    Net::AnalogModem* modem = new Net::AnalogModem(stateful, nullptr);
    Net::AnalogModemServer server{modem};
};

// A manager that only forgets the devices it is told of.
struct ForgettingManager : TestSupport::CountingDeviceManager {
    void releaseDevice(IO::Device* device) override { released.push_back(device); }
    std::vector<IO::Device*> released;
};

}  // namespace

TEST(ModemServer, RingIsAnsweredOneCallAtATimeAndTheEndOfACallFreesTheLine) {
    Served f;
    f.server.setInitString("ATM0");
    f.setUp();
    auto call = f.answer();
    ASSERT_TRUE(dynamic_cast<Net::AnalogModem*>(call.get()));
    EXPECT_EQ(f.holders(), "call lock carrier") << "the call keeps the line";
    call->setWaitOnConnect(0);
    call->open();         // answered calls do not dial
    f.line.sim().ring();  // more rings, and ring text in the call's data: the server must not touch the line
    f.line.sim().sendFromFarEnd("\r\nRING\r\n");
    OS::StopWatch watch;
    EXPECT_FALSE(f.server.waitForConnection(100));
    EXPECT_GE(watch.getElapsed(), 100u) << "a server with an active call only sleeps";
    f.server.setBlocking(false);
    f.modem->setRingDetected(true);
    EXPECT_EQ(f.server.accept(), nullptr) << "no second answer while a call is active";
    EXPECT_EQ(TestSupport::readFor(*call, 8, 2000), "\r\nRING\r\n") << "the call's data stays the call's";
    const std::vector<Base::String> answered = {"AT", "ATE0", "ATI0", "ATI3", "ATX3", "ATM0", "ATA"};
    EXPECT_EQ(f.line.sim().commandLines(), answered) << "identified, set up to answer, answered; no dial";
    call.reset();  // the end of the call
    EXPECT_EQ(f.holders(), "") << "hung up when the call modem is deleted";
    EXPECT_TRUE(f.stateful->isOpen()) << "and still alive";
    f.modem->setRingDetected(false);
    EXPECT_EQ(f.server.accept(), nullptr) << "no ring seen: nothing to answer";
    f.stateful->setState(0);  // another configuration used the line
    EXPECT_FALSE(f.server.waitForConnection(0));
    EXPECT_EQ(f.line.sim().commandLines().back(), "ATM0") << "set up again";
    // With an outer manager on the template, a call given back through the server's releaseDevice
    // is told to that manager, which only forgets it, and then deleted: hung up and the line free.
    ForgettingManager outer;
    f.modem->setDeviceManager(&outer);
    f.server.setBlocking(true);
    auto second = f.answer();
    ASSERT_TRUE(second);
    IO::Device* handedBack = second.get();
    f.server.releaseDevice(second.release());
    EXPECT_EQ(outer.released, std::vector<IO::Device*>{handedBack});
    EXPECT_EQ(f.holders(), "") << "hung up when given back";
    f.modem->setDeviceManager(nullptr);  // the template is the server's, not the outer manager's
}

TEST(ModemServer, CallThatDoesNotConnectOrALineThatFailsGivesNothingAndFreesTheLine) {
    Served f;
    f.setUp();
    f.line.sim().sendFromFarEnd("\r\nRING\r\n");  // ring text without a call: "ATA" gets "NO CARRIER"
    ASSERT_TRUE(f.server.waitForConnection(0));
    f.server.setBlocking(false);
    EXPECT_EQ(f.server.accept(), nullptr);
    EXPECT_EQ(f.holders(), "");
    EXPECT_FALSE(f.modem->isRingDetected());
    const std::vector<Base::String> refused = {"AT", "ATE0", "ATI0", "ATI3", "ATX3", "ATA"};
    EXPECT_EQ(f.line.sim().commandLines(), refused) << "one ATA, answered NO CARRIER";
    auto* modem =
        new Net::AnalogModem(new Net::StatefulDevice(new IO::SerialDevice("varonet-no-such-port", {})), nullptr);
    Net::AnalogModemServer broken(modem);
    OS::StopWatch watch;
    EXPECT_FALSE(broken.waitForConnection(50));
    EXPECT_GE(watch.getElapsed(), 50u) << "the failure is swallowed";
    EXPECT_FALSE(modem->isLocked());
}

TEST(ModemServer, LocksOfCallModemsGoToTheTemplatesManagerOrTheirOwnLock) {
    Served f;
    TestSupport::CountingDeviceManager outer;
    f.modem->setDeviceManager(&outer);
    Base::FifoDevice device;
    f.server.lockDevice(&device);
    EXPECT_TRUE(f.server.trylockDevice(&device, 10)) << "re-entrant for the holder";
    EXPECT_TRUE(f.server.isDeviceLocked(&device));
    f.server.unlockDevice(&device);
    f.server.unlockDevice(&device);
    EXPECT_EQ(outer.lockCalls, 1);
    EXPECT_EQ(outer.unlockCalls, 2);
    EXPECT_FALSE(f.server.isDeviceLocked(&device));
    f.modem->setDeviceManager(nullptr);
    device.Base::Lockable::lock();
    f.server.unlockDevice(&device);
    EXPECT_FALSE(device.Base::Lockable::isLocked()) << "without a manager: the device's own lock";
    EXPECT_FALSE(f.server.isDeviceLocked(&device));
    EXPECT_TRUE(f.server.trylockDevice(&device, 0));
}

TEST(IsdnModemServer, AnnouncesItsMsnOrEveryMsnAndAnswers) {
    for (const std::string ownMSN : {"", "4711"}) {
        TestSupport::SimulatedLine line;
        line.sim().setEcho(false);
        TestSupport::apply(line.sim(), TestSupport::isdnTaPlus());
        Net::IsdnModemServer server(new Net::IsdnModem(new Net::StatefulDevice(line.makePort().release()), nullptr));
        EXPECT_EQ(server.getName(), "server:isdnmodem:Device=<" + line.hostName() + ">");
        server.setProtocol(Net::IsdnPPP);
        server.setOwnMSN(ownMSN);
        EXPECT_FALSE(server.waitForConnection(0));
        EXPECT_TRUE(
            line.sim().waitForReceived("ATB31\rAT#Z=" + (ownMSN.empty() ? std::string("*") : ownMSN) + "\r", 2000));
        line.sim().ring();
        std::unique_ptr<IO::Device> call(server.accept());
        ASSERT_TRUE(dynamic_cast<Net::IsdnModem*>(call.get()));
        dynamic_cast<Net::Modem&>(*call).setDelayToDisconnect(0);
    }
}
