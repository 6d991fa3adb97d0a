#include <varonet/net/modem/ModemServer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <varonet/base/Exception.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/Thread.h>
#include <varonet/net/modem/AnalogModemServer.h>
#include <varonet/net/modem/IsdnModemServer.h>
#include "peers/ModemSimulator.h"
#include "support/CountingDeviceManager.h"
#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"

using TestSupport::RecordingLogger;
using TestSupport::SimulatedLine;

namespace {

std::string readFrom(IO::Device& device, std::size_t count, unsigned int ms) {
    std::string out;
    OS::StopWatch watch;
    char buffer[64];
    while (out.size() < count && watch.getElapsed() < ms) {
        if (!device.waitForData(watch.getRemaining(ms))) break;
        long n = device.readInternal(buffer, static_cast<long>(std::min(sizeof buffer, count - out.size())));
        if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

long countOf(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

// An analog server over a simulated line whose modem says nothing to identify itself (generic row).
struct AnalogServerFixture {
    AnalogServerFixture() {
        line.sim().setEcho(false);
        stateful = new Net::StatefulDevice(line.makePort().release());
        modem = new Net::AnalogModem(stateful, &log);
        server = std::make_unique<Net::AnalogModemServer>(modem);
    }
    // The first poll sets the line up for answering; a ring that came before would be cleared with the input.
    void setUp() {
        EXPECT_FALSE(server->waitForConnection(0));
        ASSERT_TRUE(line.sim().waitForReceived("ATX3\r", 2000));
    }
    std::unique_ptr<Net::Modem> answerRing() {
        line.sim().ring();
        IO::Device* call = server->accept();
        auto* modemCall = dynamic_cast<Net::Modem*>(call);
        EXPECT_NE(modemCall, nullptr);
        if (modemCall) modemCall->setDelayToDisconnect(0);
        return std::unique_ptr<Net::Modem>(modemCall);
    }

    SimulatedLine line;
    RecordingLogger log;
    Net::StatefulDevice* stateful;
    Net::AnalogModem* modem;
    std::unique_ptr<Net::AnalogModemServer> server;
};

TEST(ModemServer, RingIsAnsweredOneCallAtATimeAndTheEndOfACallFreesTheLine) {
    AnalogServerFixture f;
    f.server->setInitString("ATM0");
    f.server->setModulationType(Net::ModulationV34);
    f.server->setConnectTimeout(4000);
    f.setUp();
    EXPECT_EQ(f.modem->getInitString(), "ATM0") << "answering settings reach the template modem";
    EXPECT_EQ(f.modem->getModulationType(), Net::ModulationV34);
    EXPECT_EQ(f.modem->getConnectTimeout(), 4000u);
    EXPECT_EQ(countOf(f.line.sim().commandLines(), "ATM0"), 1);
    EXPECT_FALSE(f.server->isCallActive());

    auto call = f.answerRing();
    ASSERT_TRUE(call);
    EXPECT_TRUE(call->isOpen());
    EXPECT_TRUE(f.server->isCallActive());
    EXPECT_NE(dynamic_cast<Net::AnalogModem*>(call.get()), nullptr);
    EXPECT_EQ(call->getUnderlying(), f.stateful) << "the call shares the template's line";
    EXPECT_FALSE(call->ownsUnderlying());
    EXPECT_EQ(call->getConfigurationID(), f.modem->getConfigurationID());
    EXPECT_EQ(call->getDeviceManager(), static_cast<IO::DeviceManager*>(f.server.get()));
    EXPECT_TRUE(f.stateful->isLocked()) << "the call keeps the line";
    call->setWaitOnConnect(0);
    call->open();  // answered calls do not dial
    call->write(Base::String("ping"));
    EXPECT_EQ(readFrom(*call, 4, 2000), "ping");
    EXPECT_EQ(f.line.sim().farEndReceived(), "ping");

    // Two more rings, and ring text inside the call's data: the server must not touch the line.
    f.line.sim().ring();
    f.line.sim().ring();
    f.line.sim().sendFromFarEnd("\r\nRING\r\n");
    OS::StopWatch watch;
    EXPECT_FALSE(f.server->waitForConnection(100));
    EXPECT_GE(watch.getElapsed(), 100u) << "a server with an active call only sleeps";
    f.server->setBlocking(false);
    f.modem->setRingDetected(true);
    EXPECT_EQ(f.server->accept(), nullptr) << "no second answer while a call is active";
    EXPECT_EQ(readFrom(*call, 8, 2000), "\r\nRING\r\n") << "the call's data stays the call's";
    EXPECT_EQ(countOf(f.line.sim().commandLines(), "ATA"), 1);
    EXPECT_EQ(countOf(f.line.sim().commandLines(), "ATDT"), 0);

    call.reset();  // the end of the call
    EXPECT_FALSE(f.line.sim().hasCarrier()) << "deleting the call hangs up";
    EXPECT_FALSE(f.server->isCallActive());
    EXPECT_FALSE(f.stateful->isLocked()) << "the line is free for the next call";
    EXPECT_TRUE(f.stateful->isOpen()) << "and still alive";
    f.modem->setRingDetected(false);
    EXPECT_EQ(f.server->accept(), nullptr) << "no ring seen: nothing to answer";
    f.line.sim().ring();
    EXPECT_TRUE(f.server->waitForConnection(0)) << "after the release the line is polled again";
    std::unique_ptr<IO::Device> second(f.server->accept());
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isOpen());
    EXPECT_EQ(countOf(f.line.sim().commandLines(), "ATA"), 2);
    dynamic_cast<Net::Modem&>(*second).setDelayToDisconnect(0);
    static_cast<IO::DeviceManager&>(*f.server).releaseDevice(second.release());  // the manager's way to end it
    EXPECT_FALSE(f.server->isCallActive());
    EXPECT_FALSE(f.line.sim().hasCarrier());
    EXPECT_FALSE(f.stateful->isLocked());
}

TEST(ModemServer, ConfiguredLineIsOnlyListenedToUntilAnotherConfigurationUsedIt) {
    AnalogServerFixture f;
    f.setUp();
    f.server->setInitString("ATL2");
    f.line.sim().clearRecord();
    OS::StopWatch watch;
    EXPECT_FALSE(f.server->waitForConnection(0));
    EXPECT_GE(watch.getElapsed(), 240u) << "one poll listens a quarter second";
    EXPECT_EQ(f.line.sim().received(), "") << "a configured line is only listened to";
    EXPECT_EQ(f.modem->getInitString(), "") << "the line is still in the template's configuration";
    f.stateful->setState(0);  // another configuration used the line
    EXPECT_FALSE(f.server->waitForConnection(0));
    EXPECT_EQ(f.modem->getInitString(), "ATL2");
    EXPECT_EQ(f.line.sim().commandLines(), (std::vector<std::string>{"ATX3", "ATL2"}));
}

TEST(ModemServer, AUserHoldingTheTemplateModemDelaysThePollWithoutFailingIt) {
    AnalogServerFixture f;
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

TEST(ModemServer, CallThatDoesNotConnectGivesNullAndFreesTheLine) {
    AnalogServerFixture f;
    f.setUp();
    // Ring text without a call behind it: "ATA" gets "NO CARRIER" and DCD never rises.
    f.line.sim().sendFromFarEnd("\r\nRING\r\n");
    ASSERT_TRUE(f.server->waitForConnection(0));
    f.server->setBlocking(false);
    EXPECT_EQ(f.server->accept(), nullptr);
    EXPECT_FALSE(f.server->isCallActive());
    EXPECT_FALSE(f.stateful->isLocked());
    EXPECT_FALSE(f.modem->isRingDetected());
    EXPECT_EQ(countOf(f.line.sim().commandLines(), "ATA"), 1);
}

TEST(ModemServer, LineFailureWhilePollingIsSwallowed) {
    auto* port = new IO::SerialDevice("varonet-no-such-port", IO::SerialDevice::Baud9600);
    auto* modem = new Net::AnalogModem(new Net::StatefulDevice(port), nullptr);
    Net::AnalogModemServer server(modem);
    OS::StopWatch watch;
    EXPECT_FALSE(server.waitForConnection(50));
    EXPECT_GE(watch.getElapsed(), 50u);
    EXPECT_FALSE(modem->isLocked()) << "the template modem is unlocked after a failure";
}

TEST(IsdnModemServer, AnnouncesItsMsnOrEveryMsnAndAnswers) {
    for (const char* ownMSN : {"", "4711"}) {
        SCOPED_TRACE(ownMSN);
        const std::string announced = *ownMSN ? std::string("AT#Z=") + ownMSN : "AT#Z=*";
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
        auto lines = line.sim().commandLines();
        EXPECT_EQ(countOf(lines, "ATB31"), 1) << "the PPP fragment of the adapter's row";
        EXPECT_EQ(countOf(lines, announced), 1);
        EXPECT_EQ(modem->getProtocol(), Net::IsdnPPP);

        line.sim().ring();
        std::unique_ptr<IO::Device> call(server.accept());
        ASSERT_TRUE(call);
        EXPECT_NE(dynamic_cast<Net::IsdnModem*>(call.get()), nullptr);
        EXPECT_TRUE(call->isOpen());
        dynamic_cast<Net::Modem&>(*call).setDelayToDisconnect(0);
    }
}

// Tells when it is deleted.
struct WatchedDevice : Base::FifoDevice {
    explicit WatchedDevice(bool& deleted) : mrDeleted(deleted) {}
    ~WatchedDevice() override { mrDeleted = true; }
    bool& mrDeleted;
};

TEST(ModemServerManager, WithoutAnOuterManagerTheServerUnlocksAndDeletes) {
    SimulatedLine line;
    Net::AnalogModemServer server(new Net::AnalogModem(new Net::StatefulDevice(line.makePort().release()), nullptr));
    IO::DeviceManager& manager = server;
    Base::FifoDevice device;
    device.Base::Lockable::lock();
    manager.unlockDevice(&device);
    EXPECT_FALSE(device.Base::Lockable::isLocked()) << "unlock frees the device's own lock";
    bool deleted = false;
    manager.releaseDevice(new WatchedDevice(deleted));
    EXPECT_TRUE(deleted);
}

TEST(ModemServerManager, WithAnOuterManagerLocksAndReleasesArePassedOn) {
    SimulatedLine line;
    TestSupport::CountingDeviceManager outer;
    auto* modem = new Net::AnalogModem(new Net::StatefulDevice(line.makePort().release()), nullptr);
    modem->setDeviceManager(&outer);
    Net::AnalogModemServer server(modem);
    IO::DeviceManager& manager = server;
    Base::FifoDevice device;
    manager.lockDevice(&device);
    EXPECT_EQ(outer.lockCalls, 1);
    EXPECT_TRUE(manager.isDeviceLocked(&device));
    EXPECT_TRUE(manager.trylockDevice(&device, 10)) << "re-entrant for the holder";
    EXPECT_EQ(outer.lastTrylockMs, 10u);
    manager.unlockDevice(&device);
    manager.unlockDevice(&device);
    EXPECT_FALSE(manager.isDeviceLocked(&device));
    EXPECT_EQ(outer.unlockCalls, 2);
    auto* kept = new Base::FifoDevice;
    outer.manageDevice(kept);
    manager.releaseDevice(kept);  // the outer manager disposes of it
    EXPECT_TRUE(outer.managed.empty());
    modem->setDeviceManager(nullptr);  // the template is the server's, not the outer manager's
}

}  // namespace
