// The locator parser on any text. First byte: bits 0-2 the target key, bit 3
// rest form, bit 4 the rest key; the rest is the locator. Checked:
// - parsing throws exactly when the text has no unescaped ":", and then only
//   Base::Exception 9728;
// - what asString writes parses again, to the same protocol word, target and
//   options wherever the format can carry the content (see carried);
// - any target set by hand comes back through asString and parsing.
#include <varonet/base/Exception.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/UDLParser.h>

#include "FuzzSupport.h"

namespace {

const char* const kTargetKeys[8] = {"", "at", "baudrate", "port", "mode", "Baudrate", "a", "Port"};
const char* const kRestKeys[2] = {"", "UnnamedOption"};

bool hasUnescapedColon(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == ':' && (i == 0 || text[i - 1] != '\\')) return true;
    return false;
}

bool endsInBackslash(const Base::String& text) { return !text.isEmpty() && text.str().back() == '\\'; }

// Whether asString gives this content back. It does not for: a target or
// value ending in a backslash with more text after it (the backslash escapes
// the separator that follows); an option with the empty key (the unnamed
// rest, or an "@" value without a target key: both are skipped); an empty
// value (left out); a key with ":", "@", "=" or "," (keys are written as
// they stand, so the text splits elsewhere).
bool carried(const UDL::UDLParser& parser, const Base::String& targetKey, bool restForm, const Base::String& restKey) {
    if (endsInBackslash(parser.getTarget())) return false;
    for (const auto& [key, value] : parser.getOptions()) {
        if (key.isEmpty()) return false;
        if (restForm && key == restKey) continue;  // written alone, and last
        if (endsInBackslash(value)) return false;
        if (key == targetKey) continue;  // written after "@", empty or not
        if (value.isEmpty()) return false;
        for (char c : key.str())
            if (c == ':' || c == '@' || c == '=' || c == ',') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const Base::String targetKey = kTargetKeys[data[0] & 7];
    const bool restForm = (data[0] & 8) != 0;
    const Base::String restKey = restForm ? kRestKeys[(data[0] >> 4) & 1] : "";
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    auto parse = [&](const Base::String& locator) {
        return restForm ? UDL::UDLParser(locator, targetKey, restKey) : UDL::UDLParser(locator, targetKey);
    };

    UDL::UDLParser parser;
    try {
        parser = parse(text);
    } catch (const Base::Exception& e) {
        if (e.getErrorCode() != UDL::ErrNoProtocol) Fuzz::fail("parsing failed with a code other than 9728");
        if (hasUnescapedColon(text)) Fuzz::fail("a locator with an unescaped ':' was refused");
        return 0;
    }
    if (!hasUnescapedColon(text)) Fuzz::fail("a locator without an unescaped ':' was accepted");

    // Whatever asString writes must parse (an exception here is a finding too).
    const UDL::UDLParser again = parse(parser.asString(targetKey, restKey));
    if (carried(parser, targetKey, restForm, restKey) &&
        (!(again.getProtocol() == parser.getProtocol()) || !(again.getTarget() == parser.getTarget()) ||
         again.getOptions() != parser.getOptions()))
        Fuzz::fail("parse, asString, parse changed the content");

    UDL::UDLParser byHand;
    byHand.setProtocol("p");
    byHand.setTarget(text);
    if (!(parse(byHand.asString("", "")).getTarget() == Base::String(text)))
        Fuzz::fail("a target set by hand did not come back");
    return 0;
}
