#pragma once
// Tool::SessionLog: --log-file of cat and term, what the device sent, as it came.

#include <chrono>
#include <cstddef>
#include <fstream>
#include <string>

namespace Tool {

/// Appends what the device sends to a file; with timestamps, every line of
/// it starts with the local time it arrived ("[2026-12-06 15:04:05.123] ").
class SessionLog {
public:
    /// Throws Failure when the file cannot be opened for appending.
    SessionLog(const std::string& path, bool timestamps);
    void record(const char* data, std::size_t length);

private:
    std::ofstream mFile;
    bool mbTimestamps;
    bool mbLineStart = true;
};

}  // namespace Tool
