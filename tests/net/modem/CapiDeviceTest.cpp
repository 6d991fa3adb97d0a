// The CAPI device against the simulated exchange: data both ways, redial, addressing, and no backend.
#include <varonet/net/modem/CapiDevice.h>

#include <gtest/gtest.h>

#include <string>

#include <varonet/base/StopWatch.h>
#include <varonet/net/capi/CapiErrors.h>
#include <varonet/net/capi/detail/CCapi.h>
#include <varonet/net/modem/ModemErrors.h>
#include <varonet/sim/CapiExchange.h>

#include "support/CapiTestKit.h"
#include "support/Files.h"
#include "support/TestCalls.h"

using Sim::CapiExchange;
using TestSupport::codeOf;
using TestSupport::readFor;

// Over an exchange given to the device itself: no default backend is installed.
TEST(CapiDevice, EchoCallCarriesDataBothWaysAndClears) {
    auto exchange = std::make_shared<Sim::CapiExchange>();
    exchange->addNumber("555", Sim::CapiExchange::AnswerEcho);
    Net::CapiDevice device(exchange);
    EXPECT_EQ(codeOf([&] { device.waitForData(10); }), Net::ErrModemNotConnected);
    device.setNumber("555");
    ASSERT_TRUE(device.createCapi());
    device.open();
    OS::StopWatch watch;
    EXPECT_FALSE(device.waitForData(300));
    EXPECT_GE(watch.getElapsed(), 300u);
    EXPECT_EQ(device.write(Base::String("hello")), 5);
    EXPECT_EQ(readFor(device, 5, 2000), "hello") << "filled by the wrapper's receive thread";
    char c;
    EXPECT_EQ(device.read(&c, 1), 0) << "a read does not wait";
    EXPECT_TRUE(device.isEOF());
    device.write(Base::String("x"));
    ASSERT_TRUE(device.waitForData(2000));
    EXPECT_FALSE(device.waitForData(0)) << "0 does not look, even with data waiting";
    EXPECT_EQ(device.size(), 1);
    device.close();
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(exchange->activeCalls(), 0u);
    EXPECT_EQ(device.write(Base::String("late")), 0) << "no call: the wrapper refuses the data";
}

TEST(CapiDevice, FarEndTalksLargeWritesGoInPiecesAndDeletingClearsTheCall) {
    TestSupport::ExchangeScope exchange;
    exchange->addNumber("0101955", Sim::CapiExchange::AnswerHandOver);
    std::unique_ptr<IO::Device> far;
    {
        Net::CapiDevice device;
        device.setOutsideLineAccess("0");
        device.setNetworkPrefix("1019");
        device.setNumber("55");
        ASSERT_TRUE(device.createCapi());
        device.open();
        far = exchange->takeCall(2000);
        ASSERT_TRUE(far);
        far->write(Base::String("from far"));
        EXPECT_EQ(readFor(device, 8, 2000), "from far");
        const std::string big = TestSupport::randomBytes(70000, 2);  // more than one B3 length field
        EXPECT_EQ(device.write(big.data(), static_cast<long>(big.size())), static_cast<long>(big.size()));
        EXPECT_EQ(readFor(*far, big.size(), 5000), big);
        device.write(Base::String("bye"));
    }
    EXPECT_EQ(exchange->registeredApplications(), 0u) << "deleting the device releases the registration";
    EXPECT_EQ(readFor(*far, 3, 2000), "bye") << "what was sent before stays readable";
    EXPECT_FALSE(far->isOpen());
    EXPECT_TRUE(far->isEOF());
}

TEST(CapiDevice, RefusedOrBusyCallsAreTriedAttemptsTimesWithTheRedialWaitAfterEach) {
    // clang-format off
    const struct { Sim::CapiExchange::EAnswer answer; int attempts, redialWait; unsigned int minMs, maxMs; } cases[] = {
        {Sim::CapiExchange::Refuse, 3, 0, 0, 1500}, {Sim::CapiExchange::Busy, 1, 0, 0, 1500},
        {Sim::CapiExchange::Refuse, 2, 1, 2000, 3500}};  // the wait follows the last attempt too
    // clang-format on
    for (const auto& c : cases) {
        TestSupport::ExchangeScope exchange;
        exchange->addNumber("777", c.answer);
        Net::CapiDevice device;
        device.setNumber("777");
        device.setAttempts(c.attempts);
        device.setAttempts(0);  // ignored
        device.setRedialWaitingTime(c.redialWait);
        ASSERT_TRUE(device.createCapi());
        OS::StopWatch watch;
        EXPECT_EQ(codeOf([&] { device.open(); }), Net::ErrModemNotOpenAfterDial);
        EXPECT_GE(watch.getElapsed(), c.minMs);
        EXPECT_LT(watch.getElapsed(), c.maxMs);
        EXPECT_EQ(exchange->countCalls("777"), static_cast<std::size_t>(c.attempts));
    }
}

TEST(CapiDevice, ProtocolAndAddressingReachTheExchange) {
    // clang-format off
    const struct { Net::EIsdnProtocol protocol; const char* request; } cases[] = {
        {Net::IsdnX75,          "X75 number=9 msn=42 logical= x25=777 data= tei=3 b=1"},
        {Net::IsdnX25BChannel,  "X25 number=9 msn=42 logical=1234 x25=777 data=ud tei=3 b=1"},
        {Net::IsdnX31DChannel,  "X25D number=9 msn=42 logical= x25=777 data=ud tei=3 b=1"},
        {Net::IsdnPPP,          "X75 number=9 msn=42 logical= x25=777 data=ud tei=3 b=1"},
        {Net::IsdnV110,         "V110 number=9 msn=42 logical= x25=777 data=ud tei=3 b=1"}};
    // clang-format on
    for (const auto& c : cases) {
        TestSupport::ExchangeScope exchange;
        exchange->addNumber("9", Sim::CapiExchange::AnswerEcho);
        Net::CapiDevice device;
        device.setNumber("9");
        device.setLogicalNumber("1234");
        device.setUserData("ud");
        device.setProtocol(c.protocol);  // clears what the protocol cannot carry
        device.setOwnMSN("42");
        device.setTEI("3");
        device.setCallingX25Number("777");
        ASSERT_TRUE(device.createCapi());
        device.open();
        EXPECT_EQ(TestSupport::describe(exchange->calls().at(0).request), c.request);
    }
}

TEST(CapiDevice, WithoutABackendNothingRegistersOrOpens) {
    Net::CapiDevice orphan, without(nullptr);  // no default backend installed; none given
    for (Net::CapiDevice* device : {&orphan, &without}) {
        EXPECT_FALSE(device->createCapi());
        EXPECT_TRUE(device->getCapi()->getLastMessage().contains("no CAPI backend"));
        EXPECT_EQ(codeOf([&] { device->open(); }), Net::ErrModemNotOpenAfterDial);
    }
    EXPECT_EQ(orphan.getCapi()->StartActiveConnect(nullptr, "X75", "1", "", "", "", "", 1, ""),
              Capi::CapiErrNotRegistered);
}
