#pragma once
// UDL::UDLPrinter: renders a locator for people, one line per element.
//
// Labels and option names come from a translator in the user's language;
// time options get their unit; a nested locator (a modem's port) is shown as
// an indented block. Two markers are left for the caller's display: ":\#"
// between a label and its value, and "\h\n" at the start of a nested block.
// Every locator parsed on the way is traced to standard error as
// "UDL : '<locator>'".

#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/base/Translator.h>

namespace UDL {

class VARONET_API UDLPrinter {
public:
    /// translator is borrowed and must outlive the printer.
    UDLPrinter(Base::Translator* translator, Base::Translator::ELanguage language);
    UDLPrinter(const UDLPrinter&) = default;
    UDLPrinter& operator=(const UDLPrinter&) = default;

    /// The rendering; a text that is not a locator comes back unchanged. Never
    /// throws Base::Exception.
    Base::String print(const Base::String& locator) { return printInternal(locator, 0); }

protected:
    Base::String printInternal(const Base::String& locator, unsigned int level);
    /// The option's display name, or the key itself when there is no text for it.
    Base::String translate(Base::String key);
    /// " " and the unit text for time options; the empty text otherwise.
    Base::String getUnit(Base::String key);

private:
    Base::String text(unsigned int number, const Base::String& fallback);

    Base::Translator* mpTranslator;
    Base::Translator::ELanguage meLanguage;
};

}  // namespace UDL
