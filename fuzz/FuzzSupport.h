#pragma once
// What the fuzz targets share: a line that plays the fuzzer's bytes, a
// temporary folder, and a count of open descriptors.

#include <dirent.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <varonet/base/Logger.h>
#include <varonet/base/MemoryDevice.h>

namespace Fuzz {

/// Thrown by a FuzzLine whose bytes are used up and that was asked to wait too often.
struct EndOfInput {};

/// A memory device over the fuzzer's bytes; writes are counted and dropped.
/// Once the bytes are used up a wait answers "nothing came" (so the time-out
/// paths run); with a limit on such waits, the one after the limit throws
/// EndOfInput: that ends loops that keep trying until a clock runs out,
/// which a device that never blocks would turn into busy waits.
class FuzzLine : public Base::MemoryDevice {
public:
    FuzzLine(const std::uint8_t* data, std::size_t size, long idleWaits = -1)
        : Base::MemoryDevice(reinterpret_cast<const char*>(data), static_cast<long>(size)), miIdleWaits(idleWaits) {}

    bool waitForData(unsigned int) override {
        if (size() > 0) return true;
        if (miIdleWaits >= 0 && miIdle++ >= miIdleWaits) throw EndOfInput{};
        return false;
    }
    long write(const char*, long length) override {
        mlWritten += length;
        return length;
    }
    using IO::OutputDevice::write;
    long written() const { return mlWritten; }

private:
    long miIdleWaits;
    long miIdle = 0;
    long mlWritten = 0;
};

/// A logger that looks at every report and keeps nothing.
class QuietLogger : public Log::Logger {
public:
    void logString(unsigned int, const Base::String& text, int) override { muSeen += text.length(); }
    void logArray(unsigned int, const Base::ByteArray& bytes, int) override { muSeen += bytes.size(); }
    void logEvent(unsigned int, int) override { ++muSeen; }
    void logError(unsigned int, int) override { ++muSeen; }

private:
    std::size_t muSeen = 0;
};

/// A fresh folder under the system's temporary folder, removed when the process ends.
inline const std::filesystem::path& tempFolder() {
    // Never destroyed, so that the clean-up at exit can still read it.
    static const std::filesystem::path* folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "varonet-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(tempFolder()); });
        return new std::filesystem::path(pattern);
    }();
    return *folder;
}

/// Removes everything inside folder.
inline void emptyFolder(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(entry.path());
}

/// Open file descriptors of this process.
inline int openDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) std::abort();
    int count = 0;
    while (readdir(dir)) ++count;
    closedir(dir);
    return count;
}

/// Stops the run with a message: libFuzzer saves the input that got here.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

}  // namespace Fuzz
