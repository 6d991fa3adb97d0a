#pragma once
// Base::Translator: numbered texts in the user's language.

#include <map>
#include <utility>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace Base {

class VARONET_API Translator {
public:
    enum ELanguage { English = 0, German = 1, French = 2 };
    virtual ~Translator() = default;
    /// The text numbered number in language. With fallback true a missing
    /// translation falls back to English. Throws Base::Exception (the number
    /// as code) when there is no text at all.
    virtual String getText(unsigned int number, ELanguage language, bool fallback) = 0;
};

/// A translator over a table filled by the application.
class VARONET_API TableTranslator : public Translator {
public:
    void setText(unsigned int number, ELanguage language, const String& text) { mTexts[{number, language}] = text; }
    String getText(unsigned int number, ELanguage language, bool fallback) override;

private:
    std::map<std::pair<unsigned int, int>, String> mTexts;
};

}  // namespace Base
