#pragma once
// T1RecordingLogger: a Log::Logger that keeps what it is told, for assertions.

#include <mutex>
#include <vector>

#include <varonet/base/Logger.h>

class T1RecordingLogger : public Log::Logger {
public:
    struct Entry {
        char kind;  // 's' string, 'a' array, 'e' event, 'x' error
        unsigned int id;
        Base::ByteArray bytes;
        int level;
    };

    void logString(unsigned int id, const Base::String& text, int level) override {
        add({'s', id, Base::ByteArray::fromString(text), level});
    }
    void logArray(unsigned int id, const Base::ByteArray& bytes, int level) override { add({'a', id, bytes, level}); }
    void logEvent(unsigned int id, int level) override { add({'e', id, {}, level}); }
    void logError(unsigned int code, int level) override { add({'x', code, {}, level}); }

    std::vector<Entry> entries() {
        std::lock_guard<std::mutex> guard(mMutex);
        return mvEntries;
    }
    /// The codes given to logError, in order.
    std::vector<unsigned int> errors() {
        std::vector<unsigned int> codes;
        for (const Entry& e : entries())
            if (e.kind == 'x') codes.push_back(e.id);
        return codes;
    }

private:
    void add(Entry entry) {
        std::lock_guard<std::mutex> guard(mMutex);
        mvEntries.push_back(std::move(entry));
    }
    std::mutex mMutex;
    std::vector<Entry> mvEntries;
};
