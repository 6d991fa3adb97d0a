// Base::String: Latin-1 text with a null state, searching, case folding and number conversions.
#include <varonet/base/String.h>

#include <algorithm>
#include <climits>

namespace Base {

String::String(const char* text) : msText(text ? text : ""), mbNull(text == nullptr) {}
String::String(const char* text, std::size_t length) : msText(text, length), mbNull(false) {}
String::String(const std::string& text) : msText(text), mbNull(false) {}
String::String(std::string&& text) : msText(std::move(text)), mbNull(false) {}
String::String(std::string_view text) : msText(text), mbNull(false) {}
String::String(std::size_t count, char c) : msText(count, c), mbNull(false) {}

long String::find(const String& text, std::size_t from) const {
    std::size_t pos = msText.find(text.msText, from);
    return pos == std::string::npos ? -1 : static_cast<long>(pos);
}

long String::find(char c, std::size_t from) const {
    std::size_t pos = msText.find(c, from);
    return pos == std::string::npos ? -1 : static_cast<long>(pos);
}

long String::findLast(char c) const {
    std::size_t pos = msText.rfind(c);
    return pos == std::string::npos ? -1 : static_cast<long>(pos);
}

bool String::startsWith(const String& prefix) const { return msText.starts_with(prefix.msText); }
bool String::endsWith(const String& suffix) const { return msText.ends_with(suffix.msText); }

String String::substring(std::size_t start, std::size_t count) const {
    if (start >= msText.size()) return String("");
    return String(msText.substr(start, count));
}

String String::right(std::size_t count) const {
    if (count >= msText.size()) return String(msText);
    return String(msText.substr(msText.size() - count));
}

String String::toLower() const {
    if (mbNull) return String();
    std::string out(msText);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return String(std::move(out));
}

String String::toUpper() const {
    if (mbNull) return String();
    std::string out(msText);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return String(std::move(out));
}

String String::replaceAll(const String& what, const String& with) const {
    if (mbNull) return String();
    if (what.isEmpty()) return *this;
    std::string out(msText);
    std::size_t pos = 0;
    while ((pos = out.find(what.msText, pos)) != std::string::npos) {
        out.replace(pos, what.length(), with.msText);
        pos += with.length();
    }
    return String(std::move(out));
}

String String::trimmed() const {
    if (mbNull) return String();
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = msText.size();
    while (b < e && isSpace(msText[b])) ++b;
    while (e > b && isSpace(msText[e - 1])) --e;
    return String(msText.substr(b, e - b));
}

namespace {
int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool parseDigits(const std::string& text, std::size_t start, int base, unsigned long long limit,
                 unsigned long long& value) {
    if (base < 2 || base > 36 || start >= text.size()) return false;
    value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        int d = digitValue(text[i]);
        if (d >= base) return false;
        value = value * base + d;
        if (value > limit) return false;
    }
    return true;
}
}  // namespace

unsigned int String::asUnsigned(int base, bool* ok) const {
    unsigned long long value = 0;
    bool good = !mbNull && parseDigits(msText, 0, base, UINT_MAX, value);
    if (ok) *ok = good;
    return good ? static_cast<unsigned int>(value) : 0;
}

int String::asInteger(int base, bool* ok) const {
    bool negative = !msText.empty() && msText[0] == '-';
    std::size_t start = (!msText.empty() && (msText[0] == '-' || msText[0] == '+')) ? 1 : 0;
    unsigned long long value = 0;
    unsigned long long limit = negative ? static_cast<unsigned long long>(INT_MAX) + 1 : INT_MAX;
    bool good = !mbNull && parseDigits(msText, start, base, limit, value);
    if (ok) *ok = good;
    if (!good) return 0;
    return negative ? static_cast<int>(-static_cast<long long>(value)) : static_cast<int>(value);
}

bool String::isNumeric() const {
    return !msText.empty() && std::all_of(msText.begin(), msText.end(), [](char c) { return c >= '0' && c <= '9'; });
}

String String::fromUnsigned(unsigned long long value, int base, int width) {
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (base < 2 || base > 36) base = 10;
    std::string out;
    do {
        out.push_back(digits[value % base]);
        value /= base;
    } while (value);
    while (static_cast<int>(out.size()) < width) out.push_back('0');
    std::reverse(out.begin(), out.end());
    return String(std::move(out));
}

String String::fromInteger(long long value, int base, int width) {
    if (value >= 0) return fromUnsigned(static_cast<unsigned long long>(value), base, width);
    unsigned long long magnitude = 0ULL - static_cast<unsigned long long>(value);
    return String("-") + fromUnsigned(magnitude, base, width > 0 ? width - 1 : 0);
}

String& String::operator+=(const String& other) {
    msText += other.msText;
    mbNull = false;
    return *this;
}

String& String::operator+=(char c) {
    msText.push_back(c);
    mbNull = false;
    return *this;
}

String& String::append(const char* data, std::size_t length) {
    msText.append(data, length);
    mbNull = false;
    return *this;
}

String operator+(const String& a, const String& b) {
    String out(a.msText);
    out.msText += b.msText;
    return out;
}

String operator+(const String& a, char c) {
    String out(a.msText);
    out.msText.push_back(c);
    return out;
}

}  // namespace Base
