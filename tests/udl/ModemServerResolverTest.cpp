// The server resolver's "modem" and "isdnmodem" kinds against a simulated modem.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <varonet/net/modem/AnalogModemServer.h>
#include <varonet/net/modem/IsdnModemServer.h>

#include "support/CountingDeviceManager.h"
#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"
#include "support/TestCalls.h"

using TestSupport::resolveAs;
using TestSupport::SimulatedLine;

namespace {

std::string device(SimulatedLine& line) { return "Device=serial\\:" + line.hostName() + "\\@115k"; }

}  // namespace

TEST(ModemServerResolver, ServersGetTheirAnsweringSettings) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::agereV92());
    TestSupport::RecordingLogger log;
    auto analog = resolveAs<Net::AnalogModemServer>(
        "server:modem:" + device(line) + ",Modulation=V34,InitString2=ATM0 ATL1,ConnectTimeout=5000", &log);
    EXPECT_EQ(analog->getModulationType(), Net::ModulationV34);
    EXPECT_EQ(analog->getInitString(), "ATM0 ATL1");
    EXPECT_EQ(analog->getConnectTimeout(), 5000u);
    EXPECT_EQ(analog->getTemplateModem()->getLogger(), &log);
    EXPECT_TRUE(log.contains("S:AT&FE0S0=0&K0&D2&C1s95=61\r")) << "the template modem was initialised";
    analog.reset();
    auto isdn = resolveAs<Net::IsdnModemServer>("server:isdnmodem:" + device(line) + ",Protocol=PPP,OwnMSN=42");
    EXPECT_EQ(isdn->getProtocol(), Net::IsdnPPP);
    EXPECT_EQ(isdn->getOwnMSN(), "42");
    EXPECT_EQ(isdn->getConnectTimeout(), 0u);
    isdn.reset();
    auto plain = resolveAs<Net::IsdnModemServer>("server:isdnmodem:" + device(line) + ",LogicalNumber=12");
    EXPECT_EQ(plain->getProtocol(), Net::IsdnX75) << "a server ignores the logical number";
    UDL::BaseDeviceResolver resolver;
    for (const char* kind : {"MODEM", "analogmodem"})  // the kind is compared with case
        EXPECT_EQ(resolver.resolveServer("server:" + std::string(kind) + ":Device=none:", nullptr, nullptr), nullptr);
}

TEST(ModemServerResolver, ManagerReceivesEveryPieceAndNoPieceOwnsAnother) {
    SimulatedLine line;
    TestSupport::CountingDeviceManager manager;
    UDL::BaseDeviceResolver resolver;
    auto* server = dynamic_cast<Net::AnalogModemServer*>(
        resolver.resolveServer("server:modem:" + device(line), nullptr, &manager));
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(manager.manageDeviceCalls, 3) << "port, line, modem";
    EXPECT_EQ(manager.manageServerCalls, 1);
    EXPECT_EQ(manager.managed.at(2), server->getTemplateModem());
    EXPECT_FALSE(server->getTemplateModem()->ownsUnderlying());
    EXPECT_EQ(line.sim().received(), "") << "with a manager nothing is initialised";
}
