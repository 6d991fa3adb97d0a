#pragma once
// UDL::ModemParameters: the dial-up options of a locator, read in one step.
//
// A plain value: each public field is filled from the option of the same
// name. Absent options give the null text, 0 or false; the units belong to
// the device setters the resolvers pass the values to.

#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/net/modem/ModemTypes.h>
#include <varonet/udl/UDLParser.h>

namespace UDL {

class VARONET_API ModemParameters {
public:
    /// Reads the seventeen options of parser; never throws.
    explicit ModemParameters(const UDLParser& parser);

    /// "V22B", "V32", "V32B", "V34", "V90", "V92" (exactly); anything else is automatic (0).
    static Net::EModulationType parseModulation(const Base::String& word);
    /// "X31DChannel", "X75", "PPP", "X25BChannel" (exactly); otherwise X.25 on the
    /// B channel when a logical number is given, X.75 when not.
    static Net::EIsdnProtocol parseProtocol(const Base::String& word, const Base::String& logicalNumber);

    Base::String msNumber;
    Base::String msOutsideLineAccess;
    unsigned int muWaitForLine;
    unsigned int muWaitOnLine;
    Base::String msNetworkPrefix;
    unsigned int muWaitForNetwork;
    Base::String msUserData;
    unsigned int muConnectTimeout;
    unsigned int muWaitOnConnect;
    int miAttempts;
    int miRedialWaitingTime;
    Base::String msInitString2;
    bool mbPreinitialized;
    bool mbPreconfigured;
    unsigned int muLogicalConnections;
    unsigned int muDataBlocks;
    unsigned int muBlockSize;
};

}  // namespace UDL
