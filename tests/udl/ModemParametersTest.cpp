#include <varonet/udl/ModemParameters.h>

#include <gtest/gtest.h>

#include <varonet/udl/UDLParser.h>

namespace {

UDL::ModemParameters read(const char* locator) { return UDL::ModemParameters(UDL::UDLParser(locator, "at")); }

// Every option is read in the resolver tests; here what they cannot see: null versus set.
TEST(ModemParameters, SetOptionsAreReadAndAbsentOnesGiveNullZeroAndFalse) {
    UDL::ModemParameters set = read("modem:x:UserData=NUI x,Preconfigured=true,LogicalConnections=2,DataBlocks=7");
    EXPECT_EQ(set.msUserData, "NUI x");
    EXPECT_TRUE(set.mbPreconfigured);
    EXPECT_EQ(set.muLogicalConnections, 2u);
    EXPECT_EQ(set.muDataBlocks, 7u);
    UDL::ModemParameters p = read("modem:serial\\:COM1\\@9600:Attempts=3,Preconfigured=false");
    EXPECT_TRUE(p.msNumber.isNull());
    EXPECT_TRUE(p.msInitString2.isNull());
    EXPECT_EQ(p.miAttempts, 3);
    EXPECT_EQ(p.muConnectTimeout, 0u);
    EXPECT_FALSE(p.mbPreconfigured);
    EXPECT_FALSE(p.mbPreinitialized);
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
