#include <varonet/net/modem/IsdnModem.h>

#include <gtest/gtest.h>

#include <string>

#include <varonet/base/FifoDevice.h>

namespace {

// Exposes the command builders.
class OpenIsdnModem : public Net::IsdnModem {
public:
    using Net::IsdnModem::IsdnModem;
    using Net::IsdnModem::getConnectCommand;
    using Net::IsdnModem::getInitCommands;
    using Net::IsdnModem::getPreconnectCommands;
};

// A modem on a line identified before as an ISDN adapter of the given row (no serial port under it).
struct Bench {
    Net::StatefulDevice* line;
    OpenIsdnModem modem;
    explicit Bench(unsigned int row)
        : line(new Net::StatefulDevice(new Base::FifoDevice(0))), modem(line, nullptr) {
        line->setModemType(row == 0 ? Net::ModemUnknown : Net::ModemIsdn);
        line->setInterfaceType(row);
        modem.checkModemType();
    }
};

TEST(IsdnModemCommands, PreconnectCommandsPerProtocolAndRow) {
    struct Case {
        unsigned int row;
        Net::EIsdnProtocol protocol;
        const char* tei;
        const char* msn;
        const char* init;
        const char* expected;
    } cases[] = {
        {1, Net::IsdnX31DChannel, "0", "555", "", "B21 **tei=0 #Z=555"},
        {2, Net::IsdnX31DChannel, "", "", "", "B21"},
        {1, Net::IsdnX75, "7", "", "", "B10"},  // the TEI belongs to X.31 only
        {1, Net::IsdnX25BChannel, "", "", "ATS0=1", "B20 ATS0=1"},
        {2, Net::IsdnPPP, "", "*", "", "B31 #Z=*"},
        {1, Net::IsdnV110, "", "", "", "B10"},
        {0, Net::IsdnX31DChannel, "0", "555", "", ""},
        {0, Net::IsdnPPP, "", "555", "&K3", " &K3"},
    };
    for (const Case& c : cases) {
        Bench b(c.row);
        b.modem.setProtocol(c.protocol);
        b.modem.setTEI(c.tei);
        b.modem.setOwnMSN(c.msn);
        b.modem.setInitString(c.init);
        EXPECT_EQ(b.modem.getPreconnectCommands(), c.expected) << "row " << c.row << " protocol " << c.protocol;
    }
}

TEST(IsdnModemCommands, DialCommandCarriesTheX25Addressing) {
    struct Case {
        Net::EIsdnProtocol protocol;
        const char* outside;
        const char* prefix;
        const char* number;
        const char* logical;
        const char* userData;
        const char* expected;
    } cases[] = {
        {Net::IsdnX75, "0", "01019", "4711", "", "", "D0010194711"},
        {Net::IsdnX25BChannel, "", "", "45000", "123", "ud", "D45000X123Pud"},
        {Net::IsdnX25BChannel, "", "", "45000", "", "", "D45000"},
        {Net::IsdnX31DChannel, "", "", "", "262045", "ud", "D262045Dud"},
        {Net::IsdnX31DChannel, "", "", "112", "262045", "", "D112"},
        {Net::IsdnPPP, "9", "", "555", "", "ud", "D9555"},
        {Net::IsdnV110, "", "", "555", "", "", "D555"},
    };
    for (const Case& c : cases) {
        Bench b(1);
        b.modem.setNumber(c.number);
        b.modem.setOutsideLineAccess(c.outside);
        b.modem.setNetworkPrefix(c.prefix);
        b.modem.setWaitOnLine(3);  // pauses are not part of an ISDN dial
        b.modem.setWaitForLine(3);
        b.modem.setProtocol(c.protocol);
        b.modem.setLogicalNumber(c.logical);
        b.modem.setUserData(c.userData);
        EXPECT_EQ(b.modem.getConnectCommand(), c.expected) << c.expected;
    }
}

TEST(IsdnModemCommands, SetProtocolClearsWhatTheProtocolCannotCarry) {
    Bench b(1);
    b.modem.setLogicalNumber("123");
    b.modem.setUserData("ud");
    b.modem.setProtocol(Net::IsdnPPP);
    EXPECT_EQ(b.modem.getLogicalNumber(), "");
    EXPECT_EQ(b.modem.getUserData(), "ud");
    b.modem.setProtocol(Net::IsdnX75);
    EXPECT_EQ(b.modem.getUserData(), "");
    EXPECT_FALSE(b.modem.isMultiStepConnect());
}

TEST(IsdnModemCommands, InitCommandsAppendTheRowFragment) {
    EXPECT_EQ(Bench(0).modem.getInitCommands(), "&FE0S0=0&K0&D0&C0");
    EXPECT_EQ(Bench(1).modem.getInitCommands(), "&FE0S0=0&K0&D0&C0%B0 **idle=255");
    Bench preconfigured(2);
    preconfigured.modem.setPreconfigured(true);
    EXPECT_EQ(preconfigured.modem.getInitCommands(), "%B0 **idle=255");
}

}  // namespace
