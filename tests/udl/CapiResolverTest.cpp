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
using TestSupport::describe;
using TestSupport::ExchangeScope;

namespace {
auto resolveCapi(const std::string& locator) { return TestSupport::resolveAs<Net::CapiDevice>(locator); }
}  // namespace

TEST(CapiResolver, ProtocolWordInAnyCaseGivesARegisteredDeviceWithItsDefaultsOrOptions) {
    const char* defaults = "number=1 msn= protocol=X75 connections=1 blocks=2 size=2048 attempts=1 redial=0";
    // clang-format off
    const struct { const char *locator, *settings; } cases[] = {
        {"capi::Number=1", defaults}, {"CAPI::Number=1", defaults}, {"cApI:anything:Number=1", defaults},
        {"capi::OwnMSN=42,LogicalConnections=2,DataBlocks=3,BlockSize=1024,Attempts=3,RedialWaitingTime=2",
         "number= msn=42 protocol=X75 connections=2 blocks=3 size=1024 attempts=3 redial=2"}};
    // clang-format on
    ExchangeScope exchange;
    for (const auto& c : cases) {
        auto device = resolveCapi(c.locator);
        ASSERT_TRUE(device) << c.locator;
        EXPECT_EQ(describe(*device), c.settings);
        EXPECT_EQ(exchange->registeredApplications(), 1u) << "registered during resolve";
        EXPECT_FALSE(device->isOpen()) << "the call is placed by open";
    }
}

TEST(CapiResolver, PresentOptionsReachTheDeviceAndTheProtocolIsSetBeforeTheAddressing) {
    // clang-format off
    const struct { const char *options, *number, *request; } cases[] = {
        {.options = "Number=555,OutsideLineAccess=00,NetworkPrefix=1019,Protocol=X25BChannel,LogicalNumber=12,UserData=ud",
         .number = "001019555", .request = "X25 number=001019555 msn= logical=12 x25= data=ud tei= b=1"},
        {.options = "Number=9,Protocol=X75,UserData=ud", .number = "9", .request = "X75 number=9 msn= logical= x25= data=ud tei= b=1"},  // set after
        {.options = "Number=9,Protocol=X75,LogicalNumber=12", .number = "9", .request = "X75 number=9 msn= logical=12 x25= data= tei= b=1"},
        {.options = "Number=9,LogicalNumber=12", .number = "9", .request = "X25 number=9 msn= logical=12 x25= data= tei= b=1"},  // X.25
        {.options = "Number=9,Protocol=ppp", .number = "9", .request = "X75 number=9 msn= logical= x25= data= tei= b=1"},  // has case
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ExchangeScope exchange;
        exchange->addNumber(c.number, Sim::CapiExchange::AnswerEcho);
        resolveCapi(std::string("capi::") + c.options)->open();
        ASSERT_EQ(exchange->calls().size(), 1u);
        EXPECT_EQ(describe(exchange->calls()[0].request), c.request);
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
    EXPECT_EQ(manager.manageDeviceCalls, 1) << "a registered device is handed over";
    EXPECT_EQ(exchange->registeredApplications(), 1u);
}
