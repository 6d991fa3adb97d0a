#pragma once
// Text::StandardOutputStream: text to the process's standard output.

#include <mutex>

#include <varonet/base/String.h>

namespace Text {

class StandardOutputStream {
public:
    static StandardOutputStream& getInstance();
    StandardOutputStream& operator<<(const Base::String& text);
    StandardOutputStream& operator<<(const char* text) { return *this << Base::String(text); }
    StandardOutputStream& operator<<(long long value);
    void flush();

private:
    StandardOutputStream() = default;
    std::mutex mMutex;
};

}  // namespace Text
