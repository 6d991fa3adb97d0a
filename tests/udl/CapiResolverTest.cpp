// The resolver's "capi:" branch against the simulated exchange.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <functional>
#include <memory>
#include <string>

#include <varonet/base/Exception.h>
#include <varonet/net/capi/SimulatedExchange.h>
#include <varonet/net/modem/CapiDevice.h>
#include "support/CapiTestKit.h"
#include "support/CountingDeviceManager.h"
#include <varonet/udl/UDLErrors.h>

using Capi::SimulatedExchange;
using TestSupport::ExchangeScope;

namespace {

using TestSupport::codeOf;

std::unique_ptr<Net::CapiDevice> resolveCapi(const std::string& locator, IO::DeviceManager* manager = nullptr) {
    UDL::BaseDeviceResolver resolver;
    IO::Device* device = resolver.resolve(locator, nullptr, manager);
    auto* capi = dynamic_cast<Net::CapiDevice*>(device);
    EXPECT_NE(capi, nullptr) << locator;
    if (!capi && !manager) delete device;
    return std::unique_ptr<Net::CapiDevice>(manager ? nullptr : capi);
}

TEST(CapiResolver, ProtocolWordInAnyCaseGivesADeviceWithItsDefaultsThatConnects) {
    ExchangeScope exchange;
    exchange->addNumber("1", SimulatedExchange::AnswerEcho);
    for (const char* locator : {"capi::Number=1", "CAPI::Number=1", "cApI:anything:Number=1"}) {
        SCOPED_TRACE(locator);
        auto device = resolveCapi(locator);
        ASSERT_TRUE(device);
        EXPECT_EQ(exchange->registeredApplications(), 1u) << "registered during resolve";
        EXPECT_EQ(device->getNumber(), "1");
        EXPECT_EQ(device->getMaxLogicalConnections(), 1u);
        EXPECT_EQ(device->getDataBlocks(), 2u);
        EXPECT_EQ(device->getBlockSize(), 2048u);
        EXPECT_EQ(device->getOwnMSN(), "");
        EXPECT_EQ(device->getAttempts(), 1) << "no Attempts option: the device keeps 1";
        EXPECT_EQ(device->getIsdnProtocol(), Net::IsdnX75);
        EXPECT_FALSE(device->isOpen()) << "the call is placed by open";
        device->open();
        EXPECT_EQ(exchange->activeCalls(), 1u);
        device->close();
        EXPECT_EQ(exchange->activeCalls(), 0u);
    }
}

TEST(CapiResolver, PresentOptionsReachTheDevice) {
    ExchangeScope exchange;
    exchange->addNumber("001019555", SimulatedExchange::AnswerEcho);
    auto device = resolveCapi(
        "capi::Number=555,LogicalConnections=2,DataBlocks=3,BlockSize=1024,OutsideLineAccess=00,NetworkPrefix=1019,"
        "OwnMSN=42,Attempts=3,RedialWaitingTime=2,Protocol=X25BChannel,LogicalNumber=12,UserData=ud");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->getMaxLogicalConnections(), 2u);
    EXPECT_EQ(device->getDataBlocks(), 3u);
    EXPECT_EQ(device->getBlockSize(), 1024u);
    EXPECT_EQ(device->getAttempts(), 3);
    EXPECT_EQ(device->getRedialWaitingTime(), 2);
    device->open();
    auto calls = exchange->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].request.number, "001019555") << "access digits, prefix, number";
    EXPECT_EQ(calls[0].request.protocol, "X25");
    EXPECT_EQ(calls[0].request.logicalNumber, "12");
    EXPECT_EQ(calls[0].request.userData, "ud");
    EXPECT_EQ(calls[0].request.ownMSN, "42");
}

// The logical number and user data are set after the protocol, so the protocol does not clear them.
TEST(CapiResolver, ProtocolIsSetBeforeTheAddressing) {
    struct Case {
        const char* options;
        const char* protocol;  // as the exchange sees it
        const char* logicalNumber;
        const char* userData;
    } cases[] = {
        {"Protocol=X75,UserData=ud", "X75", "", "ud"},
        {"Protocol=X75,LogicalNumber=12", "X75", "12", ""},
        {"LogicalNumber=12", "X25", "12", ""},  // a logical number alone means X.25
        {"Protocol=ppp", "X75", "", ""},        // the protocol word has case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ExchangeScope exchange;
        exchange->addNumber("9", SimulatedExchange::AnswerEcho);
        auto device = resolveCapi(std::string("capi::Number=9,") + c.options);
        ASSERT_TRUE(device);
        EXPECT_EQ(device->getLogicalNumber().str(), c.logicalNumber) << "null and empty alike";
        EXPECT_EQ(device->getUserData().str(), c.userData);
        device->open();
        ASSERT_EQ(exchange->calls().size(), 1u);
        EXPECT_EQ(exchange->calls()[0].request.protocol, c.protocol);
    }
}

// The causes of a failed registration are the device's (see its tests); the resolver's part is the error and
// handing over only a registered device.
TEST(CapiResolver, FailedRegistrationThrows9729AndOnlyARegisteredDeviceIsHandedOver) {
    ExchangeScope exchange;
    UDL::BaseDeviceResolver resolver;
    TestSupport::CountingDeviceManager manager;
    EXPECT_EQ(codeOf([&] { resolver.resolve("capi::BlockSize=16", nullptr, &manager); }), UDL::ErrBadLocator);
    EXPECT_EQ(manager.manageDeviceCalls, 0) << "deleted, never handed over";
    exchange->setRegistrationFails(true);
    EXPECT_EQ(codeOf([&] { resolver.resolve("capi::Number=555", nullptr, nullptr); }), UDL::ErrBadLocator);
    EXPECT_EQ(exchange->registeredApplications(), 0u);
    exchange->setRegistrationFails(false);
    IO::Device* device = resolver.resolve("capi::Number=1", nullptr, &manager);
    EXPECT_NE(dynamic_cast<Net::CapiDevice*>(device), nullptr);
    EXPECT_EQ(manager.manageDeviceCalls, 1) << "a registered device is handed over";
    EXPECT_EQ(exchange->registeredApplications(), 1u);
}

}  // namespace
