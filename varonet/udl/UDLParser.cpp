// Parsing locators: protocol word, target, the short value after @, options, and escapes.
#include <varonet/udl/UDLParser.h>

#include <varonet/base/Exception.h>
#include <varonet/udl/UDLErrors.h>

namespace UDL {

namespace {
using Pos = std::size_t;
constexpr Pos npos = std::string::npos;

// First c at or after from whose previous character is not a backslash.
Pos findUnescaped(const std::string& text, char c, Pos from) {
    for (Pos i = from; i < text.size(); ++i)
        if (text[i] == c && (i == 0 || text[i - 1] != '\\')) return i;
    return npos;
}

std::string replaceAll(std::string text, const std::string& what, const std::string& with) {
    for (Pos pos = text.find(what); pos != npos; pos = text.find(what, pos + with.size()))
        text.replace(pos, what.size(), with);
    return text;
}
}  // namespace

UDLParser::UDLParser(const Base::String& locator, const Base::String& targetKey) {
    parse(locator, targetKey, false, "");
}

UDLParser::UDLParser(const Base::String& locator, const Base::String& targetKey, const Base::String& restKey) {
    parse(locator, targetKey, true, restKey);
}

Base::String UDLParser::escape(const Base::String& text) {
    return replaceAll(replaceAll(text.str(), ":", "\\:"), "@", "\\@");
}

Base::String UDLParser::unescape(const Base::String& text) {
    return replaceAll(replaceAll(text.str(), "\\:", ":"), "\\@", "@");
}

void UDLParser::parse(const Base::String& locator, const Base::String& givenTargetKey, bool restForm,
                      const Base::String& givenRestKey) {
    // A null key means the same as the empty key.
    const Base::String targetKey(givenTargetKey.str()), restKey(givenRestKey.str());
    const std::string& text = locator.str();
    const Pos length = text.size();

    // A ":" at the very start ends the search at once (empty protocol word).
    Pos p = findUnescaped(text, ':', 0);
    if (p == npos) throw Base::Exception(ErrNoProtocol, ".", __LINE__, "locator without a protocol word");
    msProtocol = Base::String(text.substr(0, p));

    // The first unescaped "@" anywhere after the protocol word separates the target.
    Pos at = findUnescaped(text, '@', p + 1);
    Pos s = p + 1;
    if (at != npos) {
        msTarget = unescape(text.substr(p + 1, at - (p + 1)));
        s = at + 1;
    }
    Pos e = findUnescaped(text, ':', s);
    if (e == npos) e = length;
    Base::String segment = unescape(text.substr(s, e - s));
    if (at != npos) mOptions[targetKey] = segment;
    else msTarget = segment;

    Pos t = e + 1;
    if (t >= length) return;
    if (restForm) {
        mOptions[restKey] = unescape(text.substr(t));
        return;
    }
    while (t < length) {
        Pos eq = text.find('=', t);
        Pos cm = text.find(',', t);
        bool keyed = eq != npos && (cm == npos || eq < cm);
        Base::String key;
        if (keyed) {
            key = Base::String(text.substr(t, eq - t));
            t = eq + 1;
            if (t >= length) return;  // "key=" at the very end stores nothing
        }
        Pos v = findUnescaped(text, ',', t);
        if (v == npos) v = length;
        if (keyed) mOptions[key] = unescape(text.substr(t, v - t));
        else mOptions[Base::String(text.substr(t, v - t))] = "1";
        t = v + 1;
    }
}

Base::String UDLParser::getString(const Base::String& key) const {
    auto it = mOptions.find(key);
    return it == mOptions.end() ? Base::String() : it->second;
}

unsigned int UDLParser::getUnsigned(const Base::String& key) const { return getString(key).asUnsigned(10); }

bool UDLParser::getBool(const Base::String& key) const {
    Base::String value = getString(key);
    if (!(value == "false") && value.asUnsigned(10) != 0) return true;
    return value == "true";
}

Base::String UDLParser::asString(const Base::String& targetKey, const Base::String& restKey) {
    Base::String out = msProtocol + ":" + escape(msTarget);
    if (!targetKey.isEmpty() && hasOption(targetKey.str())) out += "@" + escape(getString(targetKey.str()));
    Base::String options("");
    if (!restKey.isEmpty() && hasOption(restKey.str())) {
        options = escape(getString(restKey.str()));
    } else {
        for (const auto& [key, value] : mOptions) {
            if (key.str() == targetKey.str() || key.str() == restKey.str() || value.isEmpty()) continue;
            if (!options.isEmpty()) options += ",";
            options += key + "=" + escape(value);
        }
    }
    if (!options.isEmpty()) out += ":" + options;
    return out;
}

}  // namespace UDL
