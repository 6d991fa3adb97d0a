#pragma once
// UDL::UDLParser: splits a device locator into protocol word, target and options.
//
//   protocol:target[@value][:options]
//
// "@value" stores value under the caller's target key. The options part is a
// ","-separated list of key=value items and bare words (stored as "1"), or,
// in rest form, one text stored whole under the rest key. A ":" or "@" that
// belongs to a target or value is written "\:" / "\@"; parsing removes one
// level of these escapes, so a nested locator comes out ready to be parsed
// again. A "\," inside a value does not end it and keeps its backslash.

#include <map>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace UDL {

class VARONET_API UDLParser {
public:
    using Options = std::map<Base::String, Base::String>;

    /// An empty parser: null protocol word and target, no options.
    UDLParser() = default;
    /// Parses in options form. Throws Base::Exception 9728 when the locator has no unescaped ":".
    UDLParser(const Base::String& locator, const Base::String& targetKey);
    /// Parses in rest form: everything after the target, unescaped, becomes option restKey.
    UDLParser(const Base::String& locator, const Base::String& targetKey, const Base::String& restKey);

    Base::String getProtocol() const { return msProtocol; }
    Base::String getTarget() const { return msTarget; }
    bool hasOption(const Base::String& key) const { return mOptions.count(key) > 0; }
    /// The value, or the null text when the key is absent.
    Base::String getString(const Base::String& key) const;
    /// The value as a decimal number: 0 when absent, empty or not a number; no range check.
    unsigned int getUnsigned(const Base::String& key) const;
    /// True for "true" and any non-zero decimal number ("1" of a bare word); false otherwise.
    bool getBool(const Base::String& key) const;
    Options getOptions() const { return mOptions; }

    void setProtocol(const Base::String& protocol) { msProtocol = protocol; }
    void setTarget(const Base::String& target) { msTarget = target; }
    void setOption(const Base::String& key, const Base::String& value) { mOptions[key] = value; }
    void eraseOption(const Base::String& key) { mOptions.erase(key); }

    /// The locator text of the current content: the target-key value after "@",
    /// then either the rest-key value alone or every non-empty option as key=value.
    Base::String asString(const Base::String& targetKey, const Base::String& restKey);

private:
    void parse(const Base::String& locator, const Base::String& targetKey, bool restForm, const Base::String& restKey);
    static Base::String escape(const Base::String& text);
    static Base::String unescape(const Base::String& text);

    Base::String msProtocol;
    Base::String msTarget;
    Options mOptions;
};

}  // namespace UDL
