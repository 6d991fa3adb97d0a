// The text stream on standard output that T=1 progress lines go to.
#include <varonet/base/detail/StandardOutputStream.h>

#include <cstdio>

namespace Text {

StandardOutputStream& StandardOutputStream::getInstance() {
    static StandardOutputStream instance;
    return instance;
}

StandardOutputStream& StandardOutputStream::operator<<(const Base::String& text) {
    std::lock_guard<std::mutex> guard(mMutex);
    std::fwrite(text.data(), 1, text.length(), stdout);
    std::fflush(stdout);
    return *this;
}

StandardOutputStream& StandardOutputStream::operator<<(long long value) {
    return *this << Base::String::fromInteger(value);
}

void StandardOutputStream::flush() { std::fflush(stdout); }

}  // namespace Text
