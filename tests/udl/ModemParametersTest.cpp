#include "udl/ModemParameters.h"

#include <gtest/gtest.h>

#include "udl/UDLParser.h"

namespace {

UDL::ModemParameters read(const char* locator) { return UDL::ModemParameters(UDL::UDLParser(locator, "at")); }

TEST(ModemParameters, ReadsEveryOption) {
    UDL::ModemParameters p = read(
        "modem:serial\\:COM1\\@115k:Number=555,OutsideLineAccess=0,WaitForLine=3,WaitOnLine=2,NetworkPrefix=01019,"
        "WaitForNetwork=1,UserData=NUI x,ConnectTimeout=5000,WaitOnConnect=100,Attempts=3,RedialWaitingTime=5,"
        "InitString2=ATM0 ATL1,Preinitialized,Preconfigured=true,LogicalConnections=2,DataBlocks=7,BlockSize=2048");
    EXPECT_EQ(p.msNumber, "555");
    EXPECT_EQ(p.msOutsideLineAccess, "0");
    EXPECT_EQ(p.muWaitForLine, 3u);
    EXPECT_EQ(p.muWaitOnLine, 2u);
    EXPECT_EQ(p.msNetworkPrefix, "01019");
    EXPECT_EQ(p.muWaitForNetwork, 1u);
    EXPECT_EQ(p.msUserData, "NUI x");
    EXPECT_EQ(p.muConnectTimeout, 5000u);
    EXPECT_EQ(p.muWaitOnConnect, 100u);
    EXPECT_EQ(p.miAttempts, 3);
    EXPECT_EQ(p.miRedialWaitingTime, 5);
    EXPECT_EQ(p.msInitString2, "ATM0 ATL1");
    EXPECT_TRUE(p.mbPreinitialized);
    EXPECT_TRUE(p.mbPreconfigured);
    EXPECT_EQ(p.muLogicalConnections, 2u);
    EXPECT_EQ(p.muDataBlocks, 7u);
    EXPECT_EQ(p.muBlockSize, 2048u);

    UDL::ModemParameters copy = p;
    EXPECT_EQ(copy.msInitString2, "ATM0 ATL1");
    copy = read("modem:x:Number=1");
    EXPECT_EQ(copy.msNumber, "1");
    EXPECT_TRUE(copy.msUserData.isNull());
}

TEST(ModemParameters, AbsentOptionsGiveNullZeroAndFalse) {
    UDL::ModemParameters p = read("modem:serial\\:COM1\\@9600:Attempts=3,Preconfigured=false");
    EXPECT_TRUE(p.msNumber.isNull());
    EXPECT_TRUE(p.msOutsideLineAccess.isNull());
    EXPECT_TRUE(p.msInitString2.isNull());
    EXPECT_EQ(p.miAttempts, 3);
    EXPECT_EQ(p.miRedialWaitingTime, 0);
    EXPECT_EQ(p.muConnectTimeout, 0u);
    EXPECT_FALSE(p.mbPreconfigured);
    EXPECT_FALSE(p.mbPreinitialized);
    EXPECT_EQ(p.muBlockSize, 0u);
}

TEST(ModemParameters, ParseModulationIsExactAndCaseSensitive) {
    struct Case {
        Base::String word;
        Net::EModulationType value;
    } cases[] = {
        {"V22B", Net::ModulationV22bis}, {"V32", Net::ModulationV32},     {"V32B", Net::ModulationV32bis},
        {"V34", Net::ModulationV34},     {"V90", Net::ModulationV90},     {"V92", Net::ModulationV92},
        {"v34", Net::ModulationAutomatic}, {"V34 ", Net::ModulationAutomatic}, {"", Net::ModulationAutomatic},
        {Base::String(), Net::ModulationAutomatic},
    };
    for (const Case& c : cases) EXPECT_EQ(UDL::ModemParameters::parseModulation(c.word), c.value) << c.word.str();
}

TEST(ModemParameters, ParseProtocolFallsBackOnTheLogicalNumber) {
    struct Case {
        Base::String word, logical;
        Net::EIsdnProtocol value;
    } cases[] = {
        {"X31DChannel", "12", Net::IsdnX31DChannel}, {"X75", "12", Net::IsdnX75},
        {"PPP", "", Net::IsdnPPP},                   {"X25BChannel", "", Net::IsdnX25BChannel},
        {"ppp", "12", Net::IsdnX25BChannel},         {Base::String(), "12", Net::IsdnX25BChannel},
        {Base::String(), Base::String(), Net::IsdnX75}, {"V110", "", Net::IsdnX75},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UDL::ModemParameters::parseProtocol(c.word, c.logical), c.value) << c.word.str() << "/" << c.logical.str();
}

}  // namespace
