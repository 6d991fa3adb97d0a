// The resolver's "capi:" branch against the simulated exchange.
#include <varonet/udl/BaseDeviceResolver.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <varonet/net/modem/CapiDevice.h>
#include <varonet/sim/CapiExchange.h>
#include <varonet/udl/UDLErrors.h>

#include "support/CapiTestKit.h"
#include "support/CountingDeviceManager.h"
#include "support/TestCalls.h"

using Sim::CapiExchange;
using TestSupport::codeOf;
using TestSupport::ExchangeScope;

namespace {
auto resolveCapi(const std::string& locator) { return TestSupport::resolveAs<Net::CapiDevice>(locator); }
}  // namespace

TEST(CapiResolver, ProtocolWordInAnyCaseGivesARegisteredDeviceWithItsDefaults) {
    ExchangeScope exchange;
    exchange->addNumber("1", Sim::CapiExchange::AnswerEcho);
    for (const char* locator : {"capi::Number=1", "CAPI::Number=1", "cApI:anything:Number=1"}) {
        auto device = resolveCapi(locator);
        ASSERT_TRUE(device);
        EXPECT_EQ(exchange->registeredApplications(), 1u) << "registered during resolve";
        EXPECT_TRUE(device->getNumber() == "1" && device->getMaxLogicalConnections() == 1 &&
                    device->getDataBlocks() == 2);
        EXPECT_TRUE(device->getBlockSize() == 2048 && device->getOwnMSN() == "" && device->getAttempts() == 1);
        EXPECT_TRUE(device->getIsdnProtocol() == Net::IsdnX75 && !device->isOpen()) << "the call is placed by open";
    }
}

TEST(CapiResolver, PresentOptionsReachTheDeviceAndTheProtocolIsSetBeforeTheAddressing) {
    // clang-format off
    const struct { const char *options, *number, *protocol, *logicalNumber, *userData; } cases[] = {
        {"Number=555,OutsideLineAccess=00,NetworkPrefix=1019,Protocol=X25BChannel,LogicalNumber=12,UserData=ud",
         "001019555", "X25", "12", "ud"},
        {"Number=9,Protocol=X75,UserData=ud", "9", "X75", "", "ud"},  // set after the protocol: not cleared
        {"Number=9,Protocol=X75,LogicalNumber=12", "9", "X75", "12", ""},
        {"Number=9,LogicalNumber=12", "9", "X25", "12", ""},  // a logical number alone means X.25
        {"Number=9,Protocol=ppp", "9", "X75", "", ""},        // the protocol word has case
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ExchangeScope exchange;
        exchange->addNumber(c.number, Sim::CapiExchange::AnswerEcho);
        auto device = resolveCapi(std::string("capi::") + c.options +
                                  ",OwnMSN=42,LogicalConnections=2,DataBlocks=3,BlockSize=1024,"
                                  "Attempts=3,RedialWaitingTime=2");
        EXPECT_TRUE(device->getMaxLogicalConnections() == 2 && device->getDataBlocks() == 3 &&
                    device->getBlockSize() == 1024);
        EXPECT_TRUE(device->getAttempts() == 3 && device->getRedialWaitingTime() == 2);
        device->open();
        ASSERT_EQ(exchange->calls().size(), 1u);
        const Capi::CallRequest r = exchange->calls()[0].request;
        EXPECT_TRUE(r.number == c.number && r.protocol == c.protocol && r.ownMSN == "42");
        EXPECT_TRUE(r.logicalNumber == c.logicalNumber && r.userData == c.userData);
    }
}

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
    EXPECT_NE(dynamic_cast<Net::CapiDevice*>(resolver.resolve("capi::Number=1", nullptr, &manager)), nullptr);
    EXPECT_TRUE(manager.manageDeviceCalls == 1 && exchange->registeredApplications() == 1)
        << "a registered device is handed over";
}
