// The ISDN modem's commands per protocol and row, and the X.25 addressing of its dial command.
#include <varonet/net/modem/IsdnModem.h>

#include <gtest/gtest.h>

#include <memory>

#include "support/ModemTestKit.h"

namespace {
auto onRow(unsigned int row) { return TestSupport::onRow<Net::IsdnModem>(row); }
}  // namespace

TEST(IsdnModemCommands, InitAndPreconnectCommandsPerProtocolAndRow) {
    // clang-format off
    const struct { unsigned int row; Net::EIsdnProtocol protocol; const char *tei, *msn, *init, *expected; } cases[] = {
        {1, Net::IsdnX31DChannel, "0", "555", "", "B21 **tei=0 #Z=555"}, {2, Net::IsdnX31DChannel, "", "", "", "B21"},
        {1, Net::IsdnX75, "7", "", "", "B10"} /* the TEI belongs to X.31 only */, {1, Net::IsdnX25BChannel, "", "", "ATS0=1", "B20 ATS0=1"},
        {2, Net::IsdnPPP, "", "*", "", "B31 #Z=*"}, {1, Net::IsdnV110, "", "", "", "B10"},
        {0, Net::IsdnX31DChannel, "0", "555", "", ""}, {0, Net::IsdnPPP, "", "555", "&K3", " &K3"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto modem = onRow(c.row);
        modem->setProtocol(c.protocol);
        modem->setTEI(c.tei);
        modem->setOwnMSN(c.msn);
        modem->setInitString(c.init);
        EXPECT_EQ(modem->getPreconnectCommands(), c.expected) << "row " << c.row << " protocol " << c.protocol;
    }
    EXPECT_EQ(onRow(0)->getInitCommands(), "&FE0S0=0&K0&D0&C0");
    EXPECT_EQ(onRow(1)->getInitCommands(), "&FE0S0=0&K0&D0&C0%B0 **idle=255");
    auto preconfigured = onRow(2);
    preconfigured->setPreconfigured(true);
    EXPECT_EQ(preconfigured->getInitCommands(), "%B0 **idle=255");
}

TEST(IsdnModemCommands, DialCommandCarriesTheX25AddressingAndSetProtocolClearsTheRest) {
    // clang-format off
    const struct { Net::EIsdnProtocol protocol; const char *outside, *prefix, *number, *logical, *userData, *expected; } cases[] = {
        {Net::IsdnX75, "0", "01019", "4711", "", "", "D0010194711"}, {Net::IsdnX25BChannel, "", "", "45000", "123", "ud", "D45000X123Pud"},
        {Net::IsdnX25BChannel, "", "", "45000", "", "", "D45000"}, {Net::IsdnX31DChannel, "", "", "", "262045", "ud", "D262045Dud"},
        {Net::IsdnX31DChannel, "", "", "112", "262045", "", "D112"}, {Net::IsdnPPP, "9", "", "555", "", "ud", "D9555"},
        {Net::IsdnV110, "", "", "555", "", "", "D555"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto modem = onRow(1);
        modem->setNumber(c.number);
        modem->setOutsideLineAccess(c.outside);
        modem->setNetworkPrefix(c.prefix);
        modem->setWaitOnLine(3);  // pauses are not part of an ISDN dial
        modem->setWaitForLine(3);
        modem->setProtocol(c.protocol);
        modem->setLogicalNumber(c.logical);
        modem->setUserData(c.userData);
        EXPECT_EQ(modem->getConnectCommand(), c.expected);
    }
    auto modem = onRow(1);  // the protocol clears what it cannot carry
    modem->setLogicalNumber("123");
    modem->setUserData("ud");
    modem->setProtocol(Net::IsdnPPP);
    EXPECT_TRUE(modem->getLogicalNumber() == "" && modem->getUserData() == "ud" && !modem->isMultiStepConnect());
    modem->setProtocol(Net::IsdnX75);
    EXPECT_EQ(modem->getUserData(), "");
}
