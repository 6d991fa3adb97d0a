#include <varonet/net/modem/CapiDevice.h>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <functional>
#include <string>

#include <varonet/base/Exception.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/capi/CCapi.h>
#include <varonet/net/capi/CapiErrors.h>
#include <varonet/net/capi/SimulatedExchange.h>
#include <varonet/net/modem/ModemErrors.h>
#include "support/CapiTestKit.h"

using Capi::SimulatedExchange;
using TestSupport::ExchangeScope;
using TestSupport::readFor;

namespace {

using TestSupport::codeOf;

TEST(CapiDevice, EchoCallCarriesDataBothWaysAndClears) {
    ExchangeScope exchange;
    exchange->addNumber("555", SimulatedExchange::AnswerEcho);
    Net::CapiDevice device;
    EXPECT_EQ(codeOf([&] { device.waitForData(10); }), Net::ErrModemNotConnected);
    device.setNumber("555");
    ASSERT_TRUE(device.createCapi());
    EXPECT_FALSE(device.isOpen());
    device.open();
    OS::StopWatch watch;
    EXPECT_FALSE(device.waitForData(300));
    EXPECT_GE(watch.getElapsed(), 300u);
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(device.getName(), "CapiDevice");
    EXPECT_EQ(device.write(Base::String("hello")), 5);
    EXPECT_EQ(readFor(device, 5, 2000), "hello") << "filled by the wrapper's receive thread";
    EXPECT_TRUE(device.isEOF());
    EXPECT_EQ(device.size(), 0);
    char c;
    EXPECT_EQ(device.read(&c, 1), 0) << "a read does not wait";

    device.write(Base::String("x"));
    ASSERT_TRUE(device.waitForData(2000));
    EXPECT_FALSE(device.waitForData(0)) << "0 does not look, even with data waiting";
    EXPECT_EQ(device.size(), 1);

    device.close();
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(exchange->activeCalls(), 0u);
    EXPECT_EQ(device.write(Base::String("late")), 0) << "no call: the wrapper refuses the data";
    EXPECT_EQ(codeOf([&] { device.waitForData(0); }), Net::ErrModemNotConnected);
}

TEST(CapiDevice, FarEndTalksAndHangsUp) {
    ExchangeScope exchange;
    exchange->addNumber("0101955", SimulatedExchange::AnswerHandOver);
    Net::CapiDevice device;
    device.setOutsideLineAccess("0");
    device.setNetworkPrefix("1019");
    device.setNumber("55");
    ASSERT_TRUE(device.createCapi());
    device.open();
    auto far = exchange->takeCall(2000);
    ASSERT_TRUE(far);
    EXPECT_TRUE(far->isOpen());

    far->write(Base::String("from far"));
    EXPECT_EQ(readFor(device, 8, 2000), "from far");

    // More than one B3 length field and more than one block: cut and delivered in order.
    std::string big(70000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    EXPECT_EQ(device.write(big.data(), static_cast<long>(big.size())), static_cast<long>(big.size()));
    EXPECT_EQ(readFor(*far, big.size(), 5000), big);

    far->close();
    EXPECT_FALSE(far->isOpen());
    EXPECT_EQ(device.write(Base::String("gone")), 0);
    device.close();  // the far end cleared it already: clearing succeeds
    EXPECT_FALSE(device.isOpen());
}

TEST(CapiDevice, DeletingTheDeviceReleasesTheRegistrationAndClearsTheCall) {
    ExchangeScope exchange;
    exchange->addNumber("1", SimulatedExchange::AnswerHandOver);
    std::unique_ptr<IO::Device> far;
    {
        Net::CapiDevice device;
        device.setNumber("1");
        ASSERT_TRUE(device.createCapi());
        EXPECT_EQ(exchange->registeredApplications(), 1u);
        device.open();
        far = exchange->takeCall(2000);
        ASSERT_TRUE(far);
        device.write(Base::String("bye"));
    }
    EXPECT_EQ(exchange->registeredApplications(), 0u);
    EXPECT_EQ(readFor(*far, 3, 2000), "bye") << "what was sent before stays readable";
    EXPECT_FALSE(far->isOpen());
    EXPECT_TRUE(far->isEOF());
}

TEST(CapiDevice, RefusedOrBusyCallsAreTriedAttemptsTimesWithTheRedialWaitAfterEach) {
    struct Case {
        SimulatedExchange::EAnswer answer;
        int attempts, redialWait;
        unsigned int minMs, maxMs;
    } cases[] = {
        {SimulatedExchange::Refuse, 3, 0, 0, 1500},
        {SimulatedExchange::Busy, 1, 0, 0, 1500},
        {SimulatedExchange::Refuse, 2, 1, 2000, 3500},  // the wait follows the last attempt too
    };
    for (const Case& c : cases) {
        ExchangeScope exchange;
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
        EXPECT_FALSE(device.isOpen());
        EXPECT_EQ(exchange->countCalls("777"), static_cast<std::size_t>(c.attempts));
    }
}

TEST(CapiDevice, ProtocolAndAddressingReachTheExchange) {
    struct Case {
        Net::EIsdnProtocol protocol;
        const char* text;
        const char* logicalNumber;  // what survives setProtocol
        const char* userData;
    } cases[] = {
        {Net::IsdnX75, "X75", "", ""},         {Net::IsdnX25BChannel, "X25", "1234", "ud"},
        {Net::IsdnX31DChannel, "X25D", "", "ud"}, {Net::IsdnPPP, "X75", "", "ud"},
        {Net::IsdnV110, "V110", "", "ud"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ExchangeScope exchange;
        exchange->addNumber("9", SimulatedExchange::AnswerEcho);
        Net::CapiDevice device;
        device.setNumber("9");
        device.setLogicalNumber("1234");
        device.setUserData("ud");
        device.setProtocol(c.protocol);
        device.setOwnMSN("42");
        device.setTEI("3");
        device.setCallingX25Number("777");
        ASSERT_TRUE(device.createCapi());
        device.open();
        auto calls = exchange->calls();
        ASSERT_EQ(calls.size(), 1u);
        const Capi::CallRequest& r = calls[0].request;
        EXPECT_EQ(r.protocol, c.text);
        EXPECT_EQ(r.number, "9");
        EXPECT_EQ(r.logicalNumber, c.logicalNumber);
        EXPECT_EQ(r.userData, c.userData);
        EXPECT_EQ(r.ownMSN, "42");
        EXPECT_EQ(r.tei, "3");
        EXPECT_EQ(r.callingX25Number, "777");
        EXPECT_EQ(r.bChannels, 1);
    }
}

TEST(CapiDevice, FailedRegistrationIsLoggedAndReportedAsFalse) {
    {
        ExchangeScope exchange;
        exchange->setRegistrationFails(true);
        Net::CapiDevice device;
        EXPECT_FALSE(device.createCapi());
        EXPECT_FALSE(device.getCapi()->getLastMessage().isEmpty());
        EXPECT_EQ(exchange->registeredApplications(), 0u);
    }
    {
        ExchangeScope exchange;
        Net::CapiDevice device;
        device.setBlockSize(64);
        EXPECT_FALSE(device.createCapi()) << "blocks below 128 bytes";
        EXPECT_TRUE(device.getCapi()->getLastMessage().contains("64"));
    }
    Net::CapiDevice orphan;  // no backend installed at all
    EXPECT_FALSE(orphan.createCapi());
    EXPECT_TRUE(orphan.getCapi()->getLastMessage().contains("no CAPI backend"));
    EXPECT_EQ(codeOf([&] { orphan.open(); }), Net::ErrModemNotOpenAfterDial);
}

TEST(CapiWrapper, TwoCallsNeedTwoLogicalConnections) {
    ExchangeScope exchange;
    exchange->addNumber("1", SimulatedExchange::AnswerEcho);
    Capi::CCapi capi;
    char message[Capi::CCapi::MessageBufferSize] = {};
    ASSERT_EQ(capi.CreateCapi(message, 1, 2, 2048), Capi::CapiOk);
    capi.start();
    int first = 0, second = 0;
    ASSERT_EQ(capi.StartActiveConnect(&first, "X75", "1", "", "", "", "", 1, ""), Capi::CapiOk);
    EXPECT_NE(first, 0);
    EXPECT_EQ(capi.StartActiveConnect(&second, "X75", "1", "", "", "", "", 1, ""), Capi::CapiErrTooManyConnections);
    EXPECT_EQ(capi.StartActiveConnect(&second, "X99", "1", "", "", "", "", 1, ""), Capi::CapiErrBadProtocol);
    EXPECT_EQ(capi.StartActiveDisconnect(first), Capi::CapiOk);
    EXPECT_EQ(capi.StartActiveConnect(&second, "X75", "2", "", "", "", "", 1, ""), Capi::CapiErrNoSuchNumber);
    EXPECT_EQ(capi.StartActiveDisconnect(12345), Capi::CapiErrUnknownConnection);
    std::uint16_t count = 7;
    char buffer[4];
    EXPECT_NE(capi.GetReceiveB3Data(first, &count, buffer, 4), Capi::CapiOk);
}

}  // namespace
