// Rendering a locator for people, one line per element with nested locators indented.
#include <varonet/udl/UDLPrinter.h>

#include <cstdio>
#include <map>

#include <varonet/base/Exception.h>
#include <varonet/udl/UDLParser.h>
#include <varonet/udl/detail/LocatorText.h>

namespace UDL {

namespace {
enum TextNumber : unsigned int {
    TextProtocolLabel = 1289,
    TextTargetLabel = 1320,
    TextSeconds = 1183,       // unit of the redial waiting time
    TextMilliseconds = 1182,  // unit of the other time options
};

unsigned int optionTextNumber(const Base::String& key) {
    static const std::map<std::string, unsigned int> numbers = {
        {"Attempts", 1209},       {"ConnectTimeout", 1086},    {"WaitOnConnect", 1134},
        {"ReceiveTimeout", 1364}, {"RedialWaitingTime", 1210}, {"FlowControl", 1413},
        {"Number", 1085},         {"UserData", 1091},          {"InitString2", 1141},
    };
    auto it = numbers.find(key.str());
    return it == numbers.end() ? 0 : it->second;
}

// True when text has a ":" not preceded by a backslash, the mark of a locator
// (the parser's own rule for the end of the protocol word). An IPv6 address in
// brackets ("[::1]", a TCP locator's host) is no locator.
bool hasProtocolWord(const std::string& text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == ':' && (i == 0 || text[i - 1] != '\\')) return true;
    return false;
}
}  // namespace

UDLPrinter::UDLPrinter(Base::Translator* translator, Base::Translator::ELanguage language)
    : mpTranslator(translator), meLanguage(language) {}

Base::String UDLPrinter::text(unsigned int number, const Base::String& fallback) {
    try {
        return mpTranslator->getText(number, meLanguage, true);
    } catch (const Base::Exception&) {
        return fallback;
    }
}

Base::String UDLPrinter::translate(Base::String key) { return text(optionTextNumber(key), key); }

Base::String UDLPrinter::getUnit(Base::String key) {
    unsigned int number = 0;
    if (key == "RedialWaitingTime") number = TextSeconds;
    else if (key == "ConnectTimeout" || key == "WaitOnConnect" || key == "ReceiveTimeout") number = TextMilliseconds;
    if (number == 0) return "";
    try {
        return " " + mpTranslator->getText(number, meLanguage, true);
    } catch (const Base::Exception&) {
        return "";
    }
}

Base::String UDLPrinter::printInternal(const Base::String& locator, unsigned int level) {
    std::fprintf(stderr, "UDL : '%s'\n", locator.c_str());
    // A target that is no locator itself ends the nesting and is printed as it is.
    if (!hasProtocolWord(locator.str())) return locator;
    try {
        const Base::String indent(std::string(2 * level, ' '));
        UDLParser parser(LocatorText::escapeBracketedHost(locator), "Baudrate");
        Base::String out("");
        if (level != 0) out += "\\h\n";
        out += indent + text(TextProtocolLabel, "<..>") + ":\\#" + parser.getProtocol() + "\n";
        out += indent + text(TextTargetLabel, "<..>") + ":\\#" + printInternal(parser.getTarget(), level + 1) + "\n";
        const UDLParser::Options options = parser.getOptions();
        std::size_t left = options.size();
        for (const auto& [key, value] : options) {
            out += indent + translate(key) + getUnit(key) + ":\\#" + value;
            if (--left > 0 || level == 0) out += "\n";
        }
        return out;
    } catch (const Base::Exception&) {
        return locator;
    }
}

}  // namespace UDL
