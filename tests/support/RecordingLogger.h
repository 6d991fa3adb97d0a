#pragma once
// RecordingLogger: a Log::Logger that keeps everything it is told, for
// assertions; safe to call from several threads.

#include <mutex>
#include <string>
#include <vector>

#include <varonet/base/Logger.h>

namespace TestSupport {

class RecordingLogger : public Log::Logger {
public:
    struct Record {
        char kind;  // 's' string, 'a' array, 'e' event, 'x' error
        unsigned int id;
        std::string bytes;
        int level;
    };

    void logString(unsigned int id, const Base::String& text, int level) override;
    void logArray(unsigned int id, const Base::ByteArray& bytes, int level) override;
    void logEvent(unsigned int id, int level) override;
    void logError(unsigned int code, int level) override;

    std::vector<Record> records() const;
    /// Every report as one line: "S:<text>" (modem sent), "R:<text>" (modem
    /// received), "?<id>:<text>" (another string), "A:<id>", "E:<id>", "X:<code>".
    std::vector<std::string> entries() const;
    bool contains(const std::string& entry) const;
    /// The codes given to logError, in order.
    std::vector<unsigned int> errors() const;
    /// Reports whose level is wrong: strings and events not at level, errors not at 0.
    int badLevels(int level) const;

private:
    void add(Record record);
    mutable std::mutex mMutex;
    std::vector<Record> mvRecords;
};

}  // namespace TestSupport
