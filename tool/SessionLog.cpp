// Tool::SessionLog: the session log file of cat and term.
#include "SessionLog.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "Tool.h"

namespace Tool {

namespace {
std::string now() {
    auto at = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[40];
    std::size_t n = std::strftime(text, sizeof text, "[%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03lld] ", static_cast<long long>(ms));
    return text;
}
}  // namespace

SessionLog::SessionLog(const std::string& path, bool timestamps)
    : mFile(path, std::ios::app | std::ios::binary), mbTimestamps(timestamps) {
    if (!mFile) throw Failure("cannot open the session log " + path + ": " + std::strerror(errno));
}

void SessionLog::record(const char* data, std::size_t length) {
    if (!mbTimestamps) {
        mFile.write(data, static_cast<std::streamsize>(length));
    } else {
        for (std::size_t i = 0; i < length; ++i) {
            if (mbLineStart) mFile << now();
            mFile.put(data[i]);
            mbLineStart = data[i] == '\n';
        }
    }
    mFile.flush();
}

}  // namespace Tool
