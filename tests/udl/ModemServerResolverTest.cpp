// The server resolver's "modem" and "isdnmodem" kinds against a simulated modem.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include <varonet/net/modem/AnalogModemServer.h>
#include <varonet/net/modem/IsdnModemServer.h>
#include "peers/ModemSimulator.h"
#include "support/CountingDeviceManager.h"
#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"
#include <varonet/udl/ServerDevice.h>

using TestSupport::RecordingLogger;
using TestSupport::SimulatedLine;

namespace {

std::string device(SimulatedLine& line) { return "Device=serial\\:" + line.hostName() + "\\@115k"; }

template <class T>
std::unique_ptr<T> resolveServerAs(const std::string& locator, Log::Logger* logger = nullptr) {
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::DeviceServer> server(resolver.resolveServer(locator, logger, nullptr));
    T* typed = dynamic_cast<T*>(server.get());
    EXPECT_NE(typed, nullptr) << locator;
    if (typed) server.release();
    return std::unique_ptr<T>(typed);
}

IO::SerialDevice* portOf(Net::ModemServer& server) {
    auto* line = dynamic_cast<Net::StatefulDevice*>(server.getTemplateModem()->getUnderlying());
    return line ? dynamic_cast<IO::SerialDevice*>(line->getUnderlying()) : nullptr;
}

TEST(ModemServerResolver, AnalogServerGetsItsAnsweringSettings) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::agereV92());
    RecordingLogger log;
    auto server = resolveServerAs<Net::AnalogModemServer>(
        "server:modem:" + device(line) + ",Modulation=V34,InitString2=ATM0 ATL1,ConnectTimeout=5000", &log);
    ASSERT_TRUE(server);
    EXPECT_EQ(server->getModulationType(), Net::ModulationV34);
    EXPECT_EQ(server->getInitString(), "ATM0 ATL1");
    EXPECT_EQ(server->getConnectTimeout(), 5000u);
    auto* modem = dynamic_cast<Net::AnalogModem*>(server->getTemplateModem());
    ASSERT_NE(modem, nullptr);
    EXPECT_EQ(modem->getLogger(), &log);
    ASSERT_NE(portOf(*server), nullptr);
    EXPECT_EQ(portOf(*server)->getBaudrate(), IO::SerialDevice::Baud115200);
    EXPECT_EQ(server->getName(), "server:analogmodem:Device=<" + portOf(*server)->getName() + ">");
    EXPECT_TRUE(line.sim().waitForReceived("ATI3\r", 2000)) << "the template modem was initialised";
    EXPECT_TRUE(log.contains("S:AT&FE0S0=0&K0&D2&C1s95=61\r"));
}

TEST(ModemServerResolver, IsdnServerGetsProtocolAndOwnMsn) {
    SimulatedLine line;
    line.sim().setEcho(false);
    TestSupport::apply(line.sim(), TestSupport::isdnTaPlus());
    auto server = resolveServerAs<Net::IsdnModemServer>("server:isdnmodem:" + device(line) + ",Protocol=PPP,OwnMSN=42");
    ASSERT_TRUE(server);
    EXPECT_EQ(server->getProtocol(), Net::IsdnPPP);
    EXPECT_EQ(server->getOwnMSN(), "42");
    EXPECT_EQ(server->getConnectTimeout(), 0u) << "an absent ConnectTimeout reads as 0";
    EXPECT_NE(dynamic_cast<Net::IsdnModem*>(server->getTemplateModem()), nullptr);

    auto plain = resolveServerAs<Net::IsdnModemServer>("server:isdnmodem:" + device(line) + ",LogicalNumber=12");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->getProtocol(), Net::IsdnX75) << "a server ignores the logical number";
    EXPECT_TRUE(plain->getOwnMSN().isEmpty());
}

TEST(ModemServerResolver, KindIsComparedWithCase) {
    UDL::BaseDeviceResolver resolver;
    EXPECT_EQ(resolver.resolveServer("server:MODEM:Device=none:", nullptr, nullptr), nullptr);
    EXPECT_EQ(resolver.resolveServer("server:analogmodem:Device=none:", nullptr, nullptr), nullptr);
}

TEST(ModemServerResolver, ManagerReceivesEveryPieceAndNoPieceOwnsAnother) {
    SimulatedLine line;
    TestSupport::CountingDeviceManager manager;
    UDL::BaseDeviceResolver resolver;
    IO::DeviceServer* server = resolver.resolveServer("server:modem:" + device(line), nullptr, &manager);
    auto* modemServer = dynamic_cast<Net::AnalogModemServer*>(server);
    ASSERT_NE(modemServer, nullptr);
    EXPECT_EQ(manager.manageDeviceCalls, 3) << "port, line, modem";
    EXPECT_EQ(manager.manageServerCalls, 1);
    ASSERT_EQ(manager.managed.size(), 3u);
    EXPECT_EQ(manager.managed[2], modemServer->getTemplateModem());
    EXPECT_FALSE(modemServer->getTemplateModem()->ownsUnderlying());
    EXPECT_EQ(line.sim().received(), "") << "with a manager nothing is initialised";
}

TEST(ModemServerResolver, ServerDeviceAnswersOneCallerAfterAnother) {
    SimulatedLine line;
    line.sim().setEcho(false);
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device(resolver.resolve("server:modem:" + ::device(line), nullptr, nullptr));
    auto* serverDevice = dynamic_cast<IO::ServerDevice*>(device.get());
    ASSERT_NE(serverDevice, nullptr);
    auto* server = dynamic_cast<Net::AnalogModemServer*>(serverDevice->getServer());
    ASSERT_NE(server, nullptr);
    EXPECT_FALSE(server->waitForConnection(0));  // the line is set up for answering

    for (int call = 1; call <= 2; ++call) {
        line.sim().ring();
        device->open();
        ASSERT_TRUE(device->isOpen()) << "call " << call;
        auto* modem = dynamic_cast<Net::Modem*>(serverDevice->getConnection());
        ASSERT_NE(modem, nullptr);
        modem->setDelayToDisconnect(0);
        EXPECT_TRUE(server->isCallActive());
        device->write(Base::String("hi"));
        std::string echoed;  // the echo may come back a byte at a time
        char buffer[2];
        for (int i = 0; i < 2 && echoed.size() < 2 && device->waitForData(2000); ++i)
            echoed.append(buffer, static_cast<std::size_t>(std::max(0L, device->read(buffer, static_cast<long>(2 - echoed.size())))));
        EXPECT_EQ(echoed, "hi");
        device->close();
        EXPECT_FALSE(server->isCallActive()) << "closing the server device ends the call";
        EXPECT_FALSE(line.sim().hasCarrier());
    }
}

}  // namespace
