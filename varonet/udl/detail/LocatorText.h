#pragma once
// UDL::LocatorText: the spelling of an IPv6 address in a TCP locator.
//
// An IPv6 address is written in brackets where a host goes
// (tcpip:[::1]@7000, tcpip:[fe80::1%eth0]:Port=7000, rfc2217:[::1]@2217); the
// colons inside the brackets need no escape. Before such a locator is
// parsed, they are escaped ("\:"), which is how the locator language keeps a
// ":" inside a target, and how asString writes them back.

#include <varonet/base/String.h>

namespace UDL {

class LocatorText {
public:
    /// locator with every unescaped ":" inside a "[...]" that opens its target
    /// escaped; any other locator as it stands.
    static Base::String escapeBracketedHost(const Base::String& locator);
    /// "[::1]" -> "::1"; any other host as it stands.
    static Base::String hostWithoutBrackets(const Base::String& host);
};

}  // namespace UDL
