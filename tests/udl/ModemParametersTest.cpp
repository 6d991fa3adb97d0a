// The modulation and ISDN protocol words of modem locators.
#include <varonet/udl/ModemParameters.h>

#include <gtest/gtest.h>

// Every option is read in the resolver tests; here the word tables.
TEST(ModemParameters, ModulationAndProtocolWords) {
    // clang-format off
    const struct { Base::String word; Net::EModulationType value; } modulations[] = {
        {"V22B", Net::ModulationV22bis}, {"V32", Net::ModulationV32}, {"V32B", Net::ModulationV32bis},
        {"V34", Net::ModulationV34}, {"V90", Net::ModulationV90}, {"V92", Net::ModulationV92},
        {"v34", Net::ModulationAutomatic}, {"V34 ", Net::ModulationAutomatic}, {Base::String(), Net::ModulationAutomatic},
    };
    // clang-format on
    for (const auto& c : modulations) EXPECT_EQ(UDL::ModemParameters::parseModulation(c.word), c.value) << c.word.str();
    // clang-format off
    const struct { Base::String word, logical; Net::EIsdnProtocol value; } protocols[] = {
        {"X31DChannel", "12", Net::IsdnX31DChannel}, {"X75", "12", Net::IsdnX75}, {"PPP", "", Net::IsdnPPP},
        {"X25BChannel", "", Net::IsdnX25BChannel}, {"ppp", "12", Net::IsdnX25BChannel},
        {Base::String(), "12", Net::IsdnX25BChannel}, {Base::String(), Base::String(), Net::IsdnX75}, {"V110", "", Net::IsdnX75},
    };
    // clang-format on
    for (const auto& c : protocols)
        EXPECT_EQ(UDL::ModemParameters::parseProtocol(c.word, c.logical), c.value)
            << c.word.str() << "/" << c.logical.str();
}
