// The shared dial-up options of a locator, with the modulation and ISDN protocol words.
#include <varonet/udl/ModemParameters.h>

namespace UDL {

ModemParameters::ModemParameters(const UDLParser& parser)
    : msNumber(parser.getString("Number")), msOutsideLineAccess(parser.getString("OutsideLineAccess")),
      muWaitForLine(parser.getUnsigned("WaitForLine")), muWaitOnLine(parser.getUnsigned("WaitOnLine")),
      msNetworkPrefix(parser.getString("NetworkPrefix")), muWaitForNetwork(parser.getUnsigned("WaitForNetwork")),
      msUserData(parser.getString("UserData")), muConnectTimeout(parser.getUnsigned("ConnectTimeout")),
      muWaitOnConnect(parser.getUnsigned("WaitOnConnect")),
      miAttempts(static_cast<int>(parser.getUnsigned("Attempts"))),
      miRedialWaitingTime(static_cast<int>(parser.getUnsigned("RedialWaitingTime"))),
      msInitString2(parser.getString("InitString2")), mbPreinitialized(parser.getBool("Preinitialized")),
      mbPreconfigured(parser.getBool("Preconfigured")), muLogicalConnections(parser.getUnsigned("LogicalConnections")),
      muDataBlocks(parser.getUnsigned("DataBlocks")), muBlockSize(parser.getUnsigned("BlockSize")) {}

Net::EModulationType ModemParameters::parseModulation(const Base::String& word) {
    static const struct {
        const char* word;
        Net::EModulationType value;
    } table[] = {
        {"V22B", Net::ModulationV22bis}, {"V32", Net::ModulationV32}, {"V32B", Net::ModulationV32bis},
        {"V34", Net::ModulationV34},     {"V90", Net::ModulationV90}, {"V92", Net::ModulationV92},
    };
    for (const auto& entry : table)
        if (word == entry.word) return entry.value;
    return Net::ModulationAutomatic;
}

Net::EIsdnProtocol ModemParameters::parseProtocol(const Base::String& word, const Base::String& logicalNumber) {
    if (word == "X31DChannel") return Net::IsdnX31DChannel;
    if (word == "X75") return Net::IsdnX75;
    if (word == "PPP") return Net::IsdnPPP;
    if (word == "X25BChannel") return Net::IsdnX25BChannel;
    return logicalNumber.isEmpty() ? Net::IsdnX75 : Net::IsdnX25BChannel;
}

}  // namespace UDL
