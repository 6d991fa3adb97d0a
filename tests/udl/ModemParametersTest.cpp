#include <varonet/udl/ModemParameters.h>

#include <gtest/gtest.h>

#include <varonet/udl/UDLParser.h>

// Every option is read in the resolver tests; here what they cannot see: null versus set, and the word tables.
TEST(ModemParameters, AbsentOptionsGiveNullZeroAndFalse) {
    UDL::ModemParameters set(UDL::UDLParser("modem:x:UserData=NUI x,Preconfigured=true,LogicalConnections=2,DataBlocks=7", "at"));
    EXPECT_TRUE(set.msUserData == "NUI x" && set.mbPreconfigured && set.muLogicalConnections == 2 && set.muDataBlocks == 7);
    UDL::ModemParameters p(UDL::UDLParser("modem:serial\\:COM1\\@9600:Attempts=3,Preconfigured=false", "at"));
    EXPECT_TRUE(p.msNumber.isNull() && p.msInitString2.isNull() && p.miAttempts == 3 && p.muConnectTimeout == 0);
    EXPECT_FALSE(p.mbPreconfigured || p.mbPreinitialized);
}

TEST(ModemParameters, ModulationAndProtocolWords) {
    const struct { Base::String word; Net::EModulationType value; } modulations[] = {
        {"V22B", Net::ModulationV22bis}, {"V32", Net::ModulationV32},   {"V32B", Net::ModulationV32bis},
        {"V34", Net::ModulationV34},     {"V90", Net::ModulationV90},   {"V92", Net::ModulationV92},
        {"v34", Net::ModulationAutomatic}, {"V34 ", Net::ModulationAutomatic}, {Base::String(), Net::ModulationAutomatic}};
    for (const auto& c : modulations) EXPECT_EQ(UDL::ModemParameters::parseModulation(c.word), c.value) << c.word.str();
    const struct { Base::String word, logical; Net::EIsdnProtocol value; } protocols[] = {
        {"X31DChannel", "12", Net::IsdnX31DChannel}, {"X75", "12", Net::IsdnX75}, {"PPP", "", Net::IsdnPPP},
        {"X25BChannel", "", Net::IsdnX25BChannel},   {"ppp", "12", Net::IsdnX25BChannel},
        {Base::String(), "12", Net::IsdnX25BChannel}, {Base::String(), Base::String(), Net::IsdnX75}, {"V110", "", Net::IsdnX75}};
    for (const auto& c : protocols)
        EXPECT_EQ(UDL::ModemParameters::parseProtocol(c.word, c.logical), c.value) << c.word.str() << "/" << c.logical.str();
}
