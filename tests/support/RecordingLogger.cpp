// A logger that records every call, thread-safe, for assertions.
#include "support/RecordingLogger.h"

#include <algorithm>

#include <varonet/net/modem/ModemErrors.h>

namespace TestSupport {

void RecordingLogger::add(Record record) {
    std::lock_guard<std::mutex> guard(mMutex);
    mvRecords.push_back(std::move(record));
}

void RecordingLogger::logString(unsigned int id, const Base::String& text, int level) {
    add({'s', id, text.str(), level});
}
void RecordingLogger::logArray(unsigned int id, const Base::ByteArray& bytes, int level) {
    add({'a', id, std::string(bytes.chars(), bytes.size()), level});
}
void RecordingLogger::logEvent(unsigned int id, int level) { add({'e', id, {}, level}); }
void RecordingLogger::logError(unsigned int code, int level) { add({'x', code, {}, level}); }

std::vector<RecordingLogger::Record> RecordingLogger::records() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return mvRecords;
}

std::vector<std::string> RecordingLogger::entries() const {
    std::vector<std::string> lines;
    for (const Record& r : records()) {
        std::string id = std::to_string(r.id);
        switch (r.kind) {
            case 's':
                lines.push_back(r.id == Net::LogModemSent       ? "S:" + r.bytes
                                : r.id == Net::LogModemReceived ? "R:" + r.bytes
                                                                : "?" + id + ":" + r.bytes);
                break;
            case 'a': lines.push_back("A:" + id); break;
            case 'e': lines.push_back("E:" + id); break;
            default: lines.push_back("X:" + id); break;
        }
    }
    return lines;
}

bool RecordingLogger::contains(const std::string& entry) const {
    const auto lines = entries();
    return std::find(lines.begin(), lines.end(), entry) != lines.end();
}

std::vector<unsigned int> RecordingLogger::errors() const {
    std::vector<unsigned int> codes;
    for (const Record& r : records())
        if (r.kind == 'x') codes.push_back(r.id);
    return codes;
}

int RecordingLogger::badLevels(int level) const {
    int bad = 0;
    for (const Record& r : records())
        if (r.kind == 'x' ? r.level != 0 : r.kind != 'a' && r.level != level) ++bad;
    return bad;
}

}  // namespace TestSupport
