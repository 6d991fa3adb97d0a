// The resolver's "modem:" and "isdnmodem:" branches against a simulated modem.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <varonet/base/Exception.h>
#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/net/modem/AnalogModem.h>
#include <varonet/net/modem/IsdnModem.h>
#include "peers/ModemSimulator.h"
#include "support/CountingDeviceManager.h"
#include "support/ModemTestKit.h"
#include "support/RecordingLogger.h"
#include <varonet/udl/UDLErrors.h>

using TestSupport::RecordingLogger;
using TestSupport::SimulatedLine;

namespace {

std::string serialTarget(SimulatedLine& line) { return "serial\\:" + line.hostName() + "\\@115k"; }

template <class T>
std::unique_ptr<T> resolveAs(const std::string& locator, Log::Logger* logger = nullptr) {
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device(resolver.resolve(locator, logger, nullptr));
    T* typed = dynamic_cast<T*>(device.get());
    EXPECT_NE(typed, nullptr) << locator;
    if (typed) device.release();
    return std::unique_ptr<T>(typed);
}

Net::StatefulDevice* lineOf(Net::Modem& modem) { return dynamic_cast<Net::StatefulDevice*>(modem.getUnderlying()); }

IO::SerialDevice* portOf(Net::Modem& modem) {
    return dynamic_cast<IO::SerialDevice*>(lineOf(modem)->getUnderlying());
}

TEST(ModemResolver, ModemLocatorWithEveryOptionConfiguresTheChainAndDials) {
    SimulatedLine line;
    line.sim().setEcho(false);
    line.sim().setNetwork("DATEX-P: 44", "COM", true);
    auto modem = resolveAs<Net::AnalogModem>(
        "modem:" + serialTarget(line) +
        ":Number=555,OutsideLineAccess=0,WaitForLine=3,WaitOnLine=2,NetworkPrefix=01019,WaitForNetwork=1,"
        "UserData=NUI,ConnectTimeout=5000,WaitOnConnect=100,Attempts=3,RedialWaitingTime=2,InitString2=ATM0 ATL1,"
        "Preinitialized,Preconfigured,DialingMode=Pulse,FlashKey,Modulation=V34,DelayToDisconnect=1500");
    ASSERT_TRUE(modem);
    EXPECT_EQ(modem->getConnectTimeout(), 5000u);
    EXPECT_EQ(modem->getWaitOnConnect(), 100u);
    EXPECT_EQ(modem->getAttempts(), 3);
    EXPECT_EQ(modem->getRedialWaitingTime(), 2);
    EXPECT_EQ(modem->getInitString(), "ATM0 ATL1");
    EXPECT_TRUE(modem->isPreconfigured());
    EXPECT_FALSE(modem->isIncomingConfigurationRequired()) << "preinitialized";
    EXPECT_TRUE(modem->getFlashKey());
    EXPECT_EQ(modem->getModulationType(), Net::ModulationV34);
    EXPECT_EQ(modem->getDelayToDisconnect(), 1500u);
    EXPECT_EQ(modem->getName(), "modem:" + line.hostName() + ":555/NUI");
    ASSERT_NE(portOf(*modem), nullptr);
    EXPECT_EQ(portOf(*modem)->getBaudrate(), IO::SerialDevice::Baud115200);
    EXPECT_TRUE(modem->ownsUnderlying());
    EXPECT_TRUE(lineOf(*modem)->ownsUnderlying());

    modem->open();
    // Access digits, waits, prefix, pulse dialling and the user data all show in the dialogue.
    EXPECT_EQ(line.sim().received(), "ATDP0W,,01019,555\rNUI\r") << "preconfigured and preinitialized: only the dial";
    EXPECT_TRUE(modem->isOpen());
}

TEST(ModemResolver, ModemIsIdentifiedAndSetUpDuringResolve) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::agereV92());
    RecordingLogger log;
    auto modem = resolveAs<Net::AnalogModem>(
        "modem:serial\\:" + line.hostName() + "\\@115k\\:FlowControl=Hardware:Number=555", &log);
    ASSERT_TRUE(modem);
    EXPECT_EQ(line.sim().received(), "AT\rATE0\rATI0\rATI3\rAT&FE0S0=0&K3&D2&C1s95=61\r");
    EXPECT_EQ(lineOf(*modem)->getModemType(), Net::ModemAnalog);
    EXPECT_EQ(modem->getDelayToDisconnect(), 1100u) << "absent DelayToDisconnect keeps the default";
    EXPECT_EQ(modem->getAttempts(), 1) << "absent Attempts (0) is ignored";
    EXPECT_EQ(modem->getConnectTimeout(), 0u);
    EXPECT_EQ(modem->getDialingMode(), Net::AnalogModem::DialTone);
    EXPECT_FALSE(portOf(*modem)->isOpen()) << "resolve leaves the port closed";
    EXPECT_TRUE(log.contains("S:ATI3\r"));
}

TEST(ModemResolver, IsdnModemLocatorWithEveryOptionDialsX25) {
    SimulatedLine line;
    TestSupport::apply(line.sim(), TestSupport::isdnTaPlus());
    auto modem = resolveAs<Net::IsdnModem>(
        "isdnmodem:" + serialTarget(line) +
        ":Number=123,Protocol=X25BChannel,LogicalNumber=45,UserData=ud,OwnMSN=777,DelayToDisconnect=0,"
        "OutsideLineAccess=9,NetworkPrefix=0,WaitOnConnect=0,Attempts=2");
    ASSERT_TRUE(modem);
    EXPECT_EQ(modem->getDelayToDisconnect(), 0u);
    EXPECT_EQ(modem->getAttempts(), 2);
    EXPECT_EQ(modem->getName(), "isdnmodem:" + line.hostName() + ":123/ud");
    EXPECT_EQ(line.sim().received(), "AT\rATE0\rATI0\rATI3\rAT&FE0S0=0&K0&D2&C1%B0\rAT**idle=255\r");

    line.sim().clearRecord();
    modem->open();  // protocol, own MSN, logical number and user data show in the dialogue
    EXPECT_EQ(line.sim().received(),
              "AT&FE0S0=0&K0&D2&C1%B0\rAT**idle=255\r"  // the line was not yet set up for this configuration
              "ATB20\rAT#Z=777\r"
              "ATD90123X45Pud\r");
    modem->close();
    EXPECT_FALSE(line.sim().hasCarrier());
}

TEST(ModemResolver, IsdnModemDefaultsWithoutOwnMsnAndDelay) {
    SimulatedLine line;
    auto modem = resolveAs<Net::IsdnModem>("isdnmodem:" + serialTarget(line) + ":Number=1,LogicalNumber=45,Preconfigured");
    ASSERT_TRUE(modem);
    EXPECT_EQ(modem->getOwnMSN(), "");
    EXPECT_EQ(modem->getDelayToDisconnect(), 1100u);
    EXPECT_EQ(modem->getProtocol(), Net::IsdnX25BChannel) << "a logical number alone selects X.25 on the B channel";
    auto x75 = resolveAs<Net::IsdnModem>("isdnmodem:" + serialTarget(line) + ":Number=1,UserData=u,Preconfigured");
    ASSERT_TRUE(x75);
    EXPECT_EQ(x75->getProtocol(), Net::IsdnX75);
    EXPECT_EQ(x75->getUserData(), "") << "X.75 carries no user data";
}

TEST(ModemResolver, ManagerGetsNestedDeviceLineAndModemInThatOrder) {
    SimulatedLine line;
    TestSupport::CountingDeviceManager manager;
    UDL::BaseDeviceResolver resolver;
    IO::Device* device = resolver.resolve("modem:" + serialTarget(line) + ":Number=555", nullptr, &manager);
    ASSERT_EQ(manager.managed.size(), 3u);
    EXPECT_NE(dynamic_cast<IO::SerialDevice*>(manager.managed[0]), nullptr);
    EXPECT_NE(dynamic_cast<Net::StatefulDevice*>(manager.managed[1]), nullptr);
    EXPECT_NE(dynamic_cast<Net::AnalogModem*>(manager.managed[2]), nullptr);
    EXPECT_EQ(device, manager.managed[2]);
    auto* modem = dynamic_cast<Net::AnalogModem*>(device);
    ASSERT_NE(modem, nullptr);
    EXPECT_FALSE(modem->ownsUnderlying()) << "every device of a managed chain is the manager's";
    EXPECT_EQ(lineOf(*modem)->getModemType(), Net::ModemUnchecked) << "a managed modem is not initialised";

    modem->setNumber("999");
    ASSERT_EQ(manager.renames.size(), 1u);
    EXPECT_EQ(manager.renames[0], "modem:" + line.hostName() + ":555");
    modem->setUserData("u");
    ASSERT_EQ(manager.renames.size(), 2u);
    EXPECT_EQ(manager.renames[1], "modem:" + line.hostName() + ":999");

    // Nothing reached the modem: a marker sent now is all the simulator has.
    IO::SerialDevice* port = portOf(*modem);
    port->open();
    port->write(Base::String("#MARK\r"));
    ASSERT_TRUE(line.sim().waitForReceived("#MARK\r", 2000));
    EXPECT_EQ(line.sim().received(), "#MARK\r");
    port->close();
}

TEST(ModemResolver, NestedLocatorsGoThroughTheVirtualResolve) {
    struct Counting : UDL::BaseDeviceResolver {
        int calls = 0;
        IO::Device* resolve(const Base::String& locator, Log::Logger* logger, IO::DeviceManager* manager) override {
            ++calls;
            return UDL::BaseDeviceResolver::resolve(locator, logger, manager);
        }
    } resolver;
    SimulatedLine line;
    std::unique_ptr<IO::Device> device(
        resolver.resolve("isdnmodem:" + serialTarget(line) + ":Number=1,Preconfigured", nullptr, nullptr));
    EXPECT_EQ(resolver.calls, 2);
}

TEST(ModemResolver, RejectedAndEmptyTargets) {
    UDL::BaseDeviceResolver resolver;
    auto codeOf = [](const std::function<void()>& action) -> unsigned int {
        try {
            action();
        } catch (const Base::Exception& e) {
            return e.getErrorCode();
        }
        return 0;
    };
    for (const char* locator : {"Modem:serial\\:COM1\\@9600:Number=1", "ISDNmodem:serial\\:COM1\\@9600"})
        EXPECT_EQ(codeOf([&] { delete resolver.resolve(locator, nullptr, nullptr); }), UDL::ErrBadLocator) << locator;
    // A nested locator that gives no device leaves a modem that cannot open.
    std::unique_ptr<IO::Device> modem(resolver.resolve("modem:none\\:x:Number=1", nullptr, nullptr));
    ASSERT_NE(modem, nullptr);
    EXPECT_EQ(codeOf([&] { modem->open(); }), IO::ErrNotOpen);
}

}  // namespace
