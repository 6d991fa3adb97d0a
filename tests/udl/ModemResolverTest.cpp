// The resolver's "modem:" and "isdnmodem:" branches against a simulated modem.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <varonet/base/Errors.h>
#include <varonet/net/modem/AnalogModem.h>
#include <varonet/net/modem/IsdnModem.h>
#include <varonet/udl/UDLErrors.h>

#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"
#include "support/TestCalls.h"

using TestSupport::codeOf;
using TestSupport::resolveAs;
using TestSupport::SimulatedLine;

namespace {

std::string target(SimulatedLine& line) { return "serial\\:" + line.hostName() + "\\@115k"; }

Net::StatefulDevice* lineOf(Net::Modem& modem) { return dynamic_cast<Net::StatefulDevice*>(modem.getUnderlying()); }
IO::SerialDevice* portOf(Net::Modem& modem) { return dynamic_cast<IO::SerialDevice*>(lineOf(modem)->getUnderlying()); }

}  // namespace

TEST(ModemResolver, EveryOptionOfAModemLocatorShowsInTheSettingsAndTheDial) {
    SimulatedLine line;
    line.sim().setEcho(false);
    line.sim().setNetwork({.greeting = "DATEX-P: 44"});
    auto modem = resolveAs<Net::AnalogModem>(
        "modem:" + target(line) +
        ":Number=555,OutsideLineAccess=0,WaitForLine=3,WaitOnLine=2,NetworkPrefix=01019,WaitForNetwork=1,"
        "UserData=NUI,ConnectTimeout=5000,WaitOnConnect=100,Attempts=3,RedialWaitingTime=2,InitString2=ATM0 ATL1,"
        "Preinitialized,Preconfigured,DialingMode=Pulse,FlashKey,Modulation=V34,DelayToDisconnect=1500");
    ASSERT_TRUE(modem);
    EXPECT_EQ(TestSupport::describe(*modem),
              "timeout=5000 wait=100 attempts=3 redial=2 delay=1500 init='ATM0 ATL1' preconfigured");
    EXPECT_FALSE(modem->isIncomingConfigurationRequired()) << "preinitialized";
    EXPECT_TRUE(modem->getFlashKey());
    EXPECT_EQ(modem->getModulationType(), Net::ModulationV34);
    EXPECT_EQ(modem->getName(), "modem:" + line.hostName() + ":555/NUI");
    EXPECT_EQ(portOf(*modem)->getBaudrate(), IO::SerialDevice::Baud115200);
    EXPECT_TRUE(modem->ownsUnderlying()) << "the chain owns itself";
    EXPECT_TRUE(lineOf(*modem)->ownsUnderlying());
    modem->open();  // preconfigured and preinitialized: only the dial, with every dialling option in it
    EXPECT_EQ(line.sim().received(), "ATDP0W,,01019,555\rNUI\r");
    EXPECT_TRUE(modem->isOpen());
}

TEST(ModemResolver, IsdnModemLocatorWithAndWithoutItsOptions) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::isdnTaPlus());
    auto modem =
        resolveAs<Net::IsdnModem>("isdnmodem:" + target(line) +
                                  ":Number=123,Protocol=X25BChannel,LogicalNumber=45,UserData=ud,OwnMSN=777,"
                                  "DelayToDisconnect=0,OutsideLineAccess=9,NetworkPrefix=0,WaitOnConnect=0,Attempts=2");
    ASSERT_TRUE(modem);
    EXPECT_EQ(TestSupport::describe(*modem), "timeout=0 wait=0 attempts=2 redial=0 delay=0 init=''");
    EXPECT_EQ(modem->getName(), "isdnmodem:" + line.hostName() + ":123/ud");
    EXPECT_EQ(line.sim().received(), "AT\rATE0\rATI0\rATI3\rAT&FE0S0=0&K0&D2&C1%B0\rAT**idle=255\r");
    line.sim().clearRecord();
    modem->open();  // set up again for this configuration; protocol, MSN and X.25 addressing in the dialogue
    EXPECT_EQ(line.sim().received(), "AT&FE0S0=0&K0&D2&C1%B0\rAT**idle=255\rATB20\rAT#Z=777\rATD90123X45Pud\r");
    modem->close();
    EXPECT_FALSE(line.sim().hasCarrier());
    modem.reset();
    auto x75 = resolveAs<Net::IsdnModem>("isdnmodem:" + target(line) + ":Number=1,UserData=u,Preconfigured");
    EXPECT_EQ(x75->getProtocol(), Net::IsdnX75);
    EXPECT_EQ(x75->getUserData(), "") << "the protocol is set after the addressing";
}

TEST(ModemResolver, EmptyNestedTargetGivesAModemThatCannotOpen) {
    auto modem = resolveAs("modem:none\\:x:Number=1");  // a nested locator that gives no device
    ASSERT_NE(modem, nullptr);
    EXPECT_EQ(codeOf([&] { modem->open(); }), IO::ErrNotOpen) << "leaves a modem that cannot open";
}
