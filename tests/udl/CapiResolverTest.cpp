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
    for (const char* locator : {"CAPI::Number=1", "cApI:anything:Number=1", "capi::Number=1"}) {
        auto device = resolveCapi(locator);
        ASSERT_TRUE(device) << locator;
        EXPECT_EQ(device->getNumber(), "1") << locator;
        EXPECT_EQ(exchange->registeredApplications(), 1u) << "registered during resolve";
    }
    auto device = resolveCapi("capi::");
    EXPECT_EQ(device->getMaxLogicalConnections(), 1u);
    EXPECT_EQ(device->getDataBlocks(), 2u);
    EXPECT_EQ(device->getBlockSize(), 2048u);
    EXPECT_EQ(device->getAttempts(), 1);
    EXPECT_EQ(device->getIsdnProtocol(), Net::IsdnX75);
    EXPECT_FALSE(device->isOpen()) << "the call is placed by open";
}

TEST(CapiResolver, PresentOptionsReachTheDeviceAndTheProtocolIsSetBeforeTheAddressing) {
    // clang-format off
    const struct { const char *options, *number, *protocol, *logicalNumber = "", *userData = ""; } cases[] = {
        {.options = "Number=555,OutsideLineAccess=00,NetworkPrefix=1019,Protocol=X25BChannel,LogicalNumber=12,UserData=ud",
         .number = "001019555", .protocol = "X25", .logicalNumber = "12", .userData = "ud"},
        {.options = "Number=9,Protocol=X75,UserData=ud", .number = "9", .protocol = "X75", .userData = "ud"},  // set after
        {.options = "Number=9,Protocol=X75,LogicalNumber=12", .number = "9", .protocol = "X75", .logicalNumber = "12"},
        {.options = "Number=9,LogicalNumber=12", .number = "9", .protocol = "X25", .logicalNumber = "12"},  // means X.25
        {.options = "Number=9,Protocol=ppp", .number = "9", .protocol = "X75"},  // the protocol word has case
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ExchangeScope exchange;
        exchange->addNumber(c.number, Sim::CapiExchange::AnswerEcho);
        resolveCapi(std::string("capi::") + c.options)->open();
        ASSERT_EQ(exchange->calls().size(), 1u);
        const Capi::CallRequest r = exchange->calls()[0].request;
        EXPECT_EQ(r.number, c.number);
        EXPECT_EQ(r.protocol, c.protocol);
        EXPECT_EQ(r.logicalNumber, c.logicalNumber);
        EXPECT_EQ(r.userData, c.userData);
    }
    ExchangeScope exchange;
    auto device = resolveCapi(
        "capi::OwnMSN=42,LogicalConnections=2,DataBlocks=3,BlockSize=1024,Attempts=3,"
        "RedialWaitingTime=2");
    EXPECT_EQ(device->getOwnMSN(), "42");
    EXPECT_EQ(device->getMaxLogicalConnections(), 2u);
    EXPECT_EQ(device->getDataBlocks(), 3u);
    EXPECT_EQ(device->getBlockSize(), 1024u);
    EXPECT_EQ(device->getAttempts(), 3);
    EXPECT_EQ(device->getRedialWaitingTime(), 2);
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
