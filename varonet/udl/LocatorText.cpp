// The bracketed IPv6 host of TCP locators.
#include <varonet/udl/detail/LocatorText.h>

namespace UDL {

Base::String LocatorText::escapeBracketedHost(const Base::String& locator) {
    const std::string& text = locator.str();
    // The protocol word ends at the first ":" that is not escaped.
    std::size_t colon = 0;
    while (colon < text.size() && (text[colon] != ':' || (colon > 0 && text[colon - 1] == '\\'))) ++colon;
    if (colon + 1 >= text.size() || text[colon + 1] != '[') return locator;
    const std::size_t close = text.find(']', colon + 2);
    if (close == std::string::npos) return locator;
    std::string out = text.substr(0, colon + 2);
    for (std::size_t i = colon + 2; i < close; ++i) {
        if (text[i] == ':' && text[i - 1] != '\\') out += '\\';
        out += text[i];
    }
    return Base::String(out + text.substr(close));
}

Base::String LocatorText::hostWithoutBrackets(const Base::String& host) {
    if (host.length() >= 2 && host.startsWith("[") && host.str().back() == ']')
        return host.substring(1, host.length() - 2);
    return host;
}

}  // namespace UDL
