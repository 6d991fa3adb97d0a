// A table-backed translator: texts by number and language, with English as the fallback.
#include <varonet/base/Translator.h>

#include <varonet/base/Exception.h>

namespace Base {

String TableTranslator::getText(unsigned int number, ELanguage language, bool fallback) {
    auto it = mTexts.find({number, language});
    if (it == mTexts.end() && fallback) it = mTexts.find({number, English});
    if (it == mTexts.end()) throw Exception(number, ".", __LINE__, "no text");
    return it->second;
}

}  // namespace Base
