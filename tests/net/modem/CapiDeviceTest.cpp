#include "net/modem/CapiDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "base/Exception.h"
#include "base/StopWatch.h"
#include "net/capi/CapiErrors.h"
#include "net/capi/SimulatedExchange.h"
#include "net/modem/ModemErrors.h"
#include "support/CapiTestKit.h"

using Capi::SimulatedExchange;
using CapiTestKit::ExchangeScope;
using CapiTestKit::collect;

namespace {

unsigned int codeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Base::Exception& e) {
        return e.getErrorCode();
    }
    return 0;
}

TEST(CapiDevice, EchoCallCarriesDataBothWaysAndClears) {
    ExchangeScope exchange;
    exchange->addNumber("555", SimulatedExchange::AnswerEcho);
    Net::CapiDevice device;
    device.setNumber("555");
    ASSERT_TRUE(device.createCapi());
    EXPECT_FALSE(device.isOpen());
    device.open();
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(device.getName(), "CapiDevice");
    EXPECT_EQ(device.write(Base::String("hello")), 5);
    EXPECT_EQ(collect(device, 5, 2000), "hello") << "filled by the wrapper's receive thread";
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
    EXPECT_EQ(collect(device, 8, 2000), "from far");

    // More than one B3 length field and more than one block: cut and delivered in order.
    std::string big(70000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    EXPECT_EQ(device.write(big.data(), static_cast<long>(big.size())), static_cast<long>(big.size()));
    EXPECT_EQ(collect(*far, big.size(), 5000), big);

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
    EXPECT_EQ(collect(*far, 3, 2000), "bye") << "what was sent before stays readable";
    EXPECT_FALSE(far->isOpen());
    EXPECT_TRUE(far->isEOF());
}

struct RefusalCase {
    const char* name;
    SimulatedExchange::EAnswer answer;
    int attempts;
    friend std::ostream& operator<<(std::ostream& out, const RefusalCase& c) { return out << c.name; }
};

class CapiRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(CapiRefusal, IsTriedAttemptsTimesThenFailsWith1048) {
    ExchangeScope exchange;
    exchange->addNumber("777", GetParam().answer);
    Net::CapiDevice device;
    device.setNumber("777");
    device.setAttempts(GetParam().attempts);
    ASSERT_TRUE(device.createCapi());
    EXPECT_EQ(codeOf([&] { device.open(); }), Net::ErrModemNotOpenAfterDial);
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(exchange->countCalls("777"), static_cast<std::size_t>(GetParam().attempts));
}

INSTANTIATE_TEST_SUITE_P(Answers, CapiRefusal,
                         testing::Values(RefusalCase{"refused3", SimulatedExchange::Refuse, 3},
                                         RefusalCase{"busy1", SimulatedExchange::Busy, 1},
                                         RefusalCase{"busy2", SimulatedExchange::Busy, 2}),
                         [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(CapiDevice, RedialWaitsAfterEveryFailedAttemptTheLastIncluded) {
    ExchangeScope exchange;
    exchange->addNumber("777", SimulatedExchange::Refuse);
    Net::CapiDevice device;
    device.setNumber("777");
    device.setAttempts(2);
    device.setAttempts(0);  // ignored
    device.setRedialWaitingTime(1);
    ASSERT_TRUE(device.createCapi());
    OS::StopWatch watch;
    EXPECT_EQ(codeOf([&] { device.open(); }), Net::ErrModemNotOpenAfterDial);
    EXPECT_GE(watch.getElapsed(), 2000u) << "1 s after each of the two attempts";
    EXPECT_LT(watch.getElapsed(), 3500u);
    EXPECT_EQ(exchange->countCalls("777"), 2u);
}

struct ProtocolCase {
    Net::EIsdnProtocol protocol;
    const char* text;
    const char* logicalNumber;  // what survives setProtocol
    const char* userData;
    friend std::ostream& operator<<(std::ostream& out, const ProtocolCase& c) { return out << c.text; }
};

class CapiProtocol : public testing::TestWithParam<ProtocolCase> {};

TEST_P(CapiProtocol, ReachesTheExchangeAsItsText) {
    const ProtocolCase& c = GetParam();
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
    EXPECT_EQ(device.getIsdnProtocol(), c.protocol);
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

INSTANTIATE_TEST_SUITE_P(Protocols, CapiProtocol,
                         testing::Values(ProtocolCase{Net::IsdnX75, "X75", "", ""},
                                         ProtocolCase{Net::IsdnX25BChannel, "X25", "1234", "ud"},
                                         ProtocolCase{Net::IsdnX31DChannel, "X25D", "", "ud"},
                                         ProtocolCase{Net::IsdnPPP, "X75", "", "ud"},
                                         ProtocolCase{Net::IsdnV110, "V110", "", "ud"}));

TEST(CapiDevice, WaitForDataWithoutAConnectionThrows1553) {
    ExchangeScope exchange;
    exchange->addNumber("1", SimulatedExchange::AnswerEcho);
    Net::CapiDevice device;
    EXPECT_EQ(codeOf([&] { device.waitForData(10); }), Net::ErrModemNotConnected);
    ASSERT_TRUE(device.createCapi());
    device.setNumber("1");
    device.open();
    OS::StopWatch watch;
    EXPECT_FALSE(device.waitForData(300));
    EXPECT_GE(watch.getElapsed(), 300u);
    device.close();
    EXPECT_EQ(codeOf([&] { device.waitForData(0); }), Net::ErrModemNotConnected);
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

TEST(CapiDevice, DefaultsAndSettersThatClearOtherFields) {
    Net::CapiDevice device;
    EXPECT_EQ(device.getMaxLogicalConnections(), 1u);
    EXPECT_EQ(device.getDataBlocks(), 2u);
    EXPECT_EQ(device.getBlockSize(), 2048u);
    EXPECT_EQ(device.getAttempts(), 1);
    EXPECT_EQ(device.getRedialWaitingTime(), 0);
    EXPECT_EQ(device.getTimeout(), 0u);
    EXPECT_EQ(device.getIsdnProtocol(), Net::IsdnX75);
    device.setTimeout(1500);
    EXPECT_EQ(device.getTimeout(), 1500u);
    EXPECT_EQ(Net::CapiDevice::protocolText(static_cast<Net::EIsdnProtocol>(9)), std::string("X75"));
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
