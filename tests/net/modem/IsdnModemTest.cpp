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
    const struct { unsigned int row; Net::EIsdnProtocol protocol; const char *tei = "", *msn = "", *init = "", *expected; } cases[] = {
        {.row = 1, .protocol = Net::IsdnX31DChannel, .tei = "0", .msn = "555", .expected = "B21 **tei=0 #Z=555"},
        {.row = 2, .protocol = Net::IsdnX31DChannel, .expected = "B21"},
        {.row = 1, .protocol = Net::IsdnX75, .tei = "7", .expected = "B10"},  // the TEI belongs to X.31 only
        {.row = 1, .protocol = Net::IsdnX25BChannel, .init = "ATS0=1", .expected = "B20 ATS0=1"},
        {.row = 2, .protocol = Net::IsdnPPP, .msn = "*", .expected = "B31 #Z=*"},
        {.row = 1, .protocol = Net::IsdnV110, .expected = "B10"},
        {.row = 0, .protocol = Net::IsdnX31DChannel, .tei = "0", .msn = "555", .expected = ""},
        {.row = 0, .protocol = Net::IsdnPPP, .msn = "555", .init = "&K3", .expected = " &K3"},
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
    const struct { Net::EIsdnProtocol protocol; const char *outside = "", *prefix = "", *number = "", *logical = "",
                   *userData = "", *expected; } cases[] = {
        {.protocol = Net::IsdnX75, .outside = "0", .prefix = "01019", .number = "4711", .expected = "D0010194711"},
        {.protocol = Net::IsdnX25BChannel, .number = "45000", .logical = "123", .userData = "ud", .expected = "D45000X123Pud"},
        {.protocol = Net::IsdnX25BChannel, .number = "45000", .expected = "D45000"},
        {.protocol = Net::IsdnX31DChannel, .logical = "262045", .userData = "ud", .expected = "D262045Dud"},
        {.protocol = Net::IsdnX31DChannel, .number = "112", .logical = "262045", .expected = "D112"},
        {.protocol = Net::IsdnPPP, .outside = "9", .number = "555", .userData = "ud", .expected = "D9555"},
        {.protocol = Net::IsdnV110, .number = "555", .expected = "D555"},
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
    EXPECT_EQ(modem->getLogicalNumber(), "");
    EXPECT_EQ(modem->getUserData(), "ud");
    EXPECT_FALSE(modem->isMultiStepConnect());
    modem->setProtocol(Net::IsdnX75);
    EXPECT_EQ(modem->getUserData(), "");
}
