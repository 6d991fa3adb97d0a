#include <varonet/net/modem/ModemServer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
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

using TestSupport::SimulatedLine;

namespace {

long countOf(SimulatedLine& line, const std::string& command) {
    const auto lines = line.sim().commandLines();
    return std::count(lines.begin(), lines.end(), Base::String(command));
}

// An analog server over a simulated line whose modem says nothing to identify itself (generic row).
struct Served {
    Served() {
        line.sim().setEcho(false);
        stateful = new Net::StatefulDevice(line.makePort().release());
        modem = new Net::AnalogModem(stateful, nullptr);
        server = std::make_unique<Net::AnalogModemServer>(modem);
    }
    // The first poll sets the line up for answering; a ring that came before would be cleared with the input.
    void setUp() {
        EXPECT_FALSE(server->waitForConnection(0));
        ASSERT_TRUE(line.sim().waitForReceived("ATX3\r", 2000));
    }
    std::unique_ptr<Net::Modem> answer() {
        line.sim().ring();
        std::unique_ptr<Net::Modem> call(dynamic_cast<Net::Modem*>(server->accept()));
        if (call) call->setDelayToDisconnect(0);
        return call;
    }
    SimulatedLine line;
    Net::StatefulDevice* stateful;
    Net::AnalogModem* modem;
    std::unique_ptr<Net::AnalogModemServer> server;
};

}  // namespace

TEST(ModemServer, RingIsAnsweredOneCallAtATimeAndTheEndOfACallFreesTheLine) {
    Served f;
    f.server->setInitString("ATM0");
    f.server->setModulationType(Net::ModulationV34);
    f.server->setConnectTimeout(4000);
    f.setUp();
    EXPECT_TRUE(f.modem->getInitString() == "ATM0" && f.modem->getModulationType() == Net::ModulationV34 &&
                f.modem->getConnectTimeout() == 4000u) << "answering settings reach the template modem";
    EXPECT_EQ(countOf(f.line, "ATM0"), 1);
    auto call = f.answer();
    ASSERT_TRUE(call && call->isOpen());
    EXPECT_TRUE(f.server->isCallActive() && f.stateful->isLocked()) << "the call keeps the line";
    EXPECT_NE(dynamic_cast<Net::AnalogModem*>(call.get()), nullptr);
    EXPECT_TRUE(call->getUnderlying() == f.stateful && !call->ownsUnderlying()) << "the call shares the template's line";
    EXPECT_EQ(call->getConfigurationID(), f.modem->getConfigurationID());
    EXPECT_EQ(call->getDeviceManager(), static_cast<IO::DeviceManager*>(f.server.get()));
    call->setWaitOnConnect(0);
    call->open();  // answered calls do not dial
    call->write(Base::String("ping"));
    EXPECT_EQ(TestSupport::readFor(*call, 4, 2000), "ping");
    // More rings, and ring text inside the call's data: the server must not touch the line.
    f.line.sim().ring();
    f.line.sim().sendFromFarEnd("\r\nRING\r\n");
    OS::StopWatch watch;
    EXPECT_FALSE(f.server->waitForConnection(100));
    EXPECT_GE(watch.getElapsed(), 100u) << "a server with an active call only sleeps";
    f.server->setBlocking(false);
    f.modem->setRingDetected(true);
    EXPECT_EQ(f.server->accept(), nullptr) << "no second answer while a call is active";
    EXPECT_EQ(TestSupport::readFor(*call, 8, 2000), "\r\nRING\r\n") << "the call's data stays the call's";
    EXPECT_TRUE(countOf(f.line, "ATA") == 1 && countOf(f.line, "ATDT") == 0);
    call.reset();  // the end of the call
    EXPECT_FALSE(f.line.sim().hasCarrier()) << "deleting the call hangs up";
    EXPECT_FALSE(f.server->isCallActive() || f.stateful->isLocked()) << "the line is free for the next call";
    EXPECT_TRUE(f.stateful->isOpen()) << "and still alive";
    f.modem->setRingDetected(false);
    EXPECT_EQ(f.server->accept(), nullptr) << "no ring seen: nothing to answer";
    f.line.sim().ring();
    EXPECT_TRUE(f.server->waitForConnection(0)) << "after the release the line is polled again";
    std::unique_ptr<IO::Device> second(f.server->accept());
    ASSERT_TRUE(second && second->isOpen());
    dynamic_cast<Net::Modem&>(*second).setDelayToDisconnect(0);
    static_cast<IO::DeviceManager&>(*f.server).releaseDevice(second.release());  // the manager's way to end it
    EXPECT_FALSE(f.server->isCallActive() || f.line.sim().hasCarrier() || f.stateful->isLocked());
}

TEST(ModemServer, ConfiguredLineIsOnlyListenedToUntilAnotherConfigurationUsedIt) {
    Served f;
    f.setUp();
    f.server->setInitString("ATL2");
    f.line.sim().clearRecord();
    OS::StopWatch watch;
    EXPECT_FALSE(f.server->waitForConnection(0));
    EXPECT_GE(watch.getElapsed(), 240u) << "one poll listens a quarter second";
    EXPECT_EQ(f.line.sim().received(), "") << "a configured line is only listened to";
    f.stateful->setState(0);  // another configuration used the line
    EXPECT_FALSE(f.server->waitForConnection(0));
    EXPECT_EQ(f.modem->getInitString(), "ATL2");
    EXPECT_EQ(f.line.sim().received(), "ATX3\rATL2\r");
}

TEST(ModemServer, AUserHoldingTheTemplateModemDelaysThePollWithoutFailingIt) {
    Served f;
    f.setUp();
    std::promise<void> held;
    std::thread holder([&] {
        f.modem->lock();
        held.set_value();
        Thread::Thread::sleep(300);  // the hold under test
        f.modem->unlock();
    });
    held.get_future().wait();
    f.line.sim().ring();
    OS::StopWatch watch;
    EXPECT_TRUE(f.server->waitForConnection(0)) << "the poll runs once the holder lets go";
    EXPECT_GE(watch.getElapsed(), 250u);
    holder.join();
    EXPECT_FALSE(f.modem->isLocked());
}

TEST(ModemServer, CallThatDoesNotConnectOrALineThatFailsGivesNothingAndFreesTheLine) {
    Served f;
    f.setUp();
    f.line.sim().sendFromFarEnd("\r\nRING\r\n");  // ring text without a call: "ATA" gets "NO CARRIER"
    ASSERT_TRUE(f.server->waitForConnection(0));
    f.server->setBlocking(false);
    EXPECT_EQ(f.server->accept(), nullptr);
    EXPECT_FALSE(f.server->isCallActive() || f.stateful->isLocked() || f.modem->isRingDetected());
    EXPECT_EQ(countOf(f.line, "ATA"), 1);
    auto* modem = new Net::AnalogModem(new Net::StatefulDevice(new IO::SerialDevice("varonet-no-such-port", {})), nullptr);
    Net::AnalogModemServer broken(modem);
    OS::StopWatch watch;
    EXPECT_FALSE(broken.waitForConnection(50));
    EXPECT_GE(watch.getElapsed(), 50u);
    EXPECT_FALSE(modem->isLocked()) << "the template modem is unlocked after a failure";
}

TEST(IsdnModemServer, AnnouncesItsMsnOrEveryMsnAndAnswers) {
    for (const std::string ownMSN : {"", "4711"}) {
        const std::string announced = ownMSN.empty() ? "AT#Z=*" : "AT#Z=" + ownMSN;
        SimulatedLine line;
        line.sim().setEcho(false);
        TestSupport::apply(line.sim(), TestSupport::isdnTaPlus());
        auto* port = line.makePort().release();
        auto* modem = new Net::IsdnModem(new Net::StatefulDevice(port), nullptr);
        Net::IsdnModemServer server(modem);
        EXPECT_EQ(server.getName(), "server:isdnmodem:Device=<" + port->getName() + ">");
        server.setProtocol(Net::IsdnPPP);
        server.setOwnMSN(ownMSN);
        EXPECT_FALSE(server.waitForConnection(0));
        ASSERT_TRUE(line.sim().waitForReceived(announced + "\r", 2000));
        EXPECT_EQ(countOf(line, "ATB31"), 1) << "the PPP fragment of the adapter's row";
        line.sim().ring();
        std::unique_ptr<IO::Device> call(server.accept());
        ASSERT_NE(dynamic_cast<Net::IsdnModem*>(call.get()), nullptr);
        EXPECT_TRUE(call->isOpen());
        dynamic_cast<Net::Modem&>(*call).setDelayToDisconnect(0);
    }
}

// A manager that only forgets the devices it is told of.
struct ForgettingManager : TestSupport::CountingDeviceManager {
    void releaseDevice(IO::Device* device) override { released.push_back(device); }
    std::vector<IO::Device*> released;
};

TEST(ModemServerManager, LocksGoToTheOuterManagerAndAReleasedCallIsDeletedAfterTheHandOver) {
    Served f;
    ForgettingManager outer;
    f.modem->setDeviceManager(&outer);
    IO::DeviceManager& manager = *f.server;
    Base::FifoDevice device;
    manager.lockDevice(&device);
    EXPECT_TRUE(outer.lockCalls == 1 && manager.isDeviceLocked(&device));
    EXPECT_TRUE(manager.trylockDevice(&device, 10)) << "re-entrant for the holder";
    EXPECT_EQ(outer.lastTrylockMs, 10u);
    manager.unlockDevice(&device);
    manager.unlockDevice(&device);
    EXPECT_TRUE(outer.unlockCalls == 2 && !manager.isDeviceLocked(&device));
    f.setUp();
    auto call = f.answer();
    ASSERT_TRUE(call && f.line.sim().hasCarrier());
    IO::Device* handedBack = call.get();
    manager.releaseDevice(call.release());
    EXPECT_EQ(outer.released, std::vector<IO::Device*>{handedBack}) << "the outer manager hears of it first";
    EXPECT_FALSE(f.line.sim().hasCarrier()) << "then the call is deleted: hung up";
    EXPECT_FALSE(f.server->isCallActive() || f.stateful->isLocked()) << "and the line is free";
    f.modem->setDeviceManager(nullptr);  // the template is the server's, not the outer manager's
    f.modem->Base::Lockable::lock();
    manager.unlockDevice(f.modem);  // without an outer manager: the device's own lock
    EXPECT_FALSE(f.modem->Base::Lockable::isLocked());
    EXPECT_TRUE(manager.trylockDevice(&device, 0) && !manager.isDeviceLocked(&device));
}
