#pragma once
// Base::String: 8-bit (Latin-1) text with a distinct null state.
//
// A null string is what a never-assigned text is: it reads as empty
// (isEmpty is true, length 0) but isNull tells it apart from "". Two strings
// compare equal when both are null or both hold the same bytes, so a null
// text is not equal to the empty text.

#include <cstdint>
#include <string>  // also declares std::hash
#include <string_view>

#include <varonet/base/Export.h>

namespace Base {

class VARONET_API String {
public:
    String() = default;        // the null string
    String(const char* text);  // NOLINT: implicit by design; null pointer gives the null string
    String(const char* text, std::size_t length);
    String(const std::string& text);  // NOLINT
    String(std::string&& text);       // NOLINT
    String(std::string_view text);    // NOLINT
    String(std::size_t count, char c);

    static String null() { return String(); }

    bool isNull() const { return mbNull; }
    bool isEmpty() const { return msText.empty(); }
    std::size_t length() const { return msText.size(); }
    const char* c_str() const { return msText.c_str(); }
    const char* data() const { return msText.data(); }
    const std::string& str() const { return msText; }
    operator std::string_view() const { return msText; }
    char operator[](std::size_t index) const { return msText[index]; }

    /// Position of the first occurrence of text (or c) at or after from; -1 when absent.
    long find(const String& text, std::size_t from = 0) const;
    long find(char c, std::size_t from = 0) const;
    /// Position of the last occurrence; -1 when absent.
    long findLast(char c) const;
    bool startsWith(const String& prefix) const;
    bool endsWith(const String& suffix) const;
    bool contains(const String& text) const { return find(text) >= 0; }

    /// Characters from start, at most count of them (to the end by default). Never null.
    String substring(std::size_t start, std::size_t count = std::string::npos) const;
    String left(std::size_t count) const { return substring(0, count); }
    String right(std::size_t count) const;
    String toLower() const;
    String toUpper() const;
    /// Every occurrence of what replaced by with, searching on after each insertion.
    String replaceAll(const String& what, const String& with) const;
    String trimmed() const;

    /// Text as an unsigned number in base 2..36. ok (when given) is false for null,
    /// empty and non-numeric text and for values beyond 32 bits; the result is then 0.
    unsigned int asUnsigned(int base = 10, bool* ok = nullptr) const;
    /// As asUnsigned, with an optional leading "-" or "+".
    int asInteger(int base = 10, bool* ok = nullptr) const;
    /// True when the text is not empty and every character is a decimal digit.
    bool isNumeric() const;

    /// value in base 2..36, left-padded with "0" to at least width characters.
    static String fromInteger(long long value, int base = 10, int width = 0);
    static String fromUnsigned(unsigned long long value, int base = 10, int width = 0);

    String& operator+=(const String& other);
    String& operator+=(char c);
    String& append(const char* data, std::size_t length);
    friend VARONET_API String operator+(const String& a, const String& b);
    friend String operator+(const String& a, const char* b) { return a + String(b); }
    friend String operator+(const char* a, const String& b) { return String(a) + b; }
    friend VARONET_API String operator+(const String& a, char c);

    friend bool operator==(const String& a, const String& b) { return a.mbNull == b.mbNull && a.msText == b.msText; }
    friend bool operator==(const String& a, const char* b) { return a == String(b); }
    /// Ordering for std::map: null sorts before every other text, then bytewise.
    friend bool operator<(const String& a, const String& b) {
        if (a.mbNull != b.mbNull) return a.mbNull;
        return a.msText < b.msText;
    }

private:
    std::string msText;
    bool mbNull = true;
};

}  // namespace Base

template <>
struct std::hash<Base::String> {
    std::size_t operator()(const Base::String& s) const noexcept { return std::hash<std::string>()(s.str()); }
};
