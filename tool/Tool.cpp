#include "Tool.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include <varonet/base/SerialDevice.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/UDLParser.h>
#include <varonet/udl/ErrorText.h>
#include <varonet/zmodem/ZModemDebugSink.h>

namespace Tool {

std::string describe(const std::string& what, const Base::Exception& e) {
    return what + ": " + UDL::ErrorText::describe(e).str();
}

// ---------------------------------------------------------------- log target

namespace {
std::unique_ptr<std::ofstream> gLogFile;
std::ostream* gLogStream = nullptr;
std::unique_ptr<Log::StreamLogger> gLogger;
std::mutex gLogMutex;
}  // namespace

void LogTarget::open(const std::string& target) {
    if (target == "-") {
        gLogStream = &std::cerr;
    } else {
        gLogFile = std::make_unique<std::ofstream>(target, std::ios::app);
        if (!*gLogFile) throw Failure("cannot open the log file " + target + ": " + std::strerror(errno));
        gLogStream = gLogFile.get();
    }
    gLogger = std::make_unique<Log::StreamLogger>(*gLogStream);
    // The ZMODEM sessions' debug lines go to the same place.
    ZModem::ZModemDebugSink::set([](const Base::String& line) {
        std::lock_guard<std::mutex> guard(gLogMutex);
        *gLogStream << "[zmodem] " << line.str();
        if (!line.endsWith("\n")) *gLogStream << "\n";
        gLogStream->flush();
    });
}

Log::Logger* LogTarget::logger() { return gLogger.get(); }

// ------------------------------------------------------------------- signals

namespace {
std::atomic<bool> gStop{false};
int gStopPipe[2] = {-1, -1};
std::mutex gWakeMutex;
std::map<int, std::function<void()>> gWakes;
int gNextWake = 0;

void stopNow() {
    if (gStop.exchange(true)) return;
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gStopPipe[1], &byte, 1);
    std::lock_guard<std::mutex> guard(gWakeMutex);
    for (auto& [id, wake] : gWakes) wake();
}
}  // namespace

void Signals::install() {
    if (::pipe2(gStopPipe, O_CLOEXEC) != 0) throw Failure(std::string("pipe: ") + std::strerror(errno));
    ::signal(SIGPIPE, SIG_IGN);  // a closed output shows as EPIPE
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every thread started later inherits the mask
    std::thread([set] {
        for (int count = 0;;) {
            // After a stop the wake-ups are repeated: one that came just before
            // a wait began may have been used up by a look that did not wait.
            timespec slice{0, 100 * 1000 * 1000};
            int signal = gStop ? sigtimedwait(&set, nullptr, &slice) : sigwaitinfo(&set, nullptr);
            if (signal > 0) {
                // A second signal ends a program that did not stop in time.
                if (count++ > 0) ::_exit(ExitFailed);
                stopNow();
            } else if (gStop) {
                std::lock_guard<std::mutex> guard(gWakeMutex);
                for (auto& [id, wake] : gWakes) wake();
            }
        }
    }).detach();
}

bool Signals::stopRequested() { return gStop.load(); }
int Signals::stopFd() { return gStopPipe[0]; }
void Signals::requestStop() { stopNow(); }

int Signals::onStop(std::function<void()> wake) {
    std::unique_lock<std::mutex> guard(gWakeMutex);
    int id = ++gNextWake;
    gWakes[id] = wake;
    guard.unlock();
    if (gStop.load()) wake();
    return id;
}

void Signals::remove(int id) {
    // Taking the lock waits for a wake-up that is running right now.
    std::lock_guard<std::mutex> guard(gWakeMutex);
    gWakes.erase(id);
}

// ------------------------------------------------------------------- devices

void aliasPathTargets(const std::string& locator) {
    Base::String text = locator;
    UDL::UDLParser parser;
    try {
        parser = UDL::UDLParser(text, text.startsWith("serial:") ? "baudrate" : "at");
    } catch (const Base::Exception&) {
        return;  // not a locator: nothing nested in it
    }
    Base::String target = parser.getTarget();
    if (text.startsWith("serial:") && target.startsWith("/")) {
        IO::SerialDevice::setPortAlias(target.substring(static_cast<std::size_t>(target.findLast('/')) + 1), target);
        return;
    }
    aliasPathTargets(target.str());
    for (const auto& [key, value] : parser.getOptions()) aliasPathTargets(value.str());
}

std::unique_ptr<IO::Device> resolveDevice(const std::string& locator) {
    aliasPathTargets(locator);
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device;
    try {
        device.reset(resolver.resolve(locator, LogTarget::logger(), nullptr));
    } catch (const Base::Exception& e) {
        throw Failure(describe("the locator '" + locator + "' cannot be used", e));
    }
    if (!device) throw Failure("the locator '" + locator + "' names no device");
    return device;
}

void openDevice(IO::Device& device, const std::string& locator) {
    StopHook hook([&device] { device.wakeUp(); });
    try {
        device.open();
    } catch (const Base::Exception& e) {
        if (Signals::stopRequested()) throw Failure("stopped while opening " + locator);
        std::string name = device.getName().str();
        bool told = name.empty() || locator.find(name) != std::string::npos || e.getText().contains(name);
        std::string where = told ? "" : " (" + name + ")";
        throw Failure(describe("cannot open " + locator + where, e));
    }
    if (Signals::stopRequested()) throw Failure("stopped while opening " + locator);
}

// -------------------------------------------------------------- traffic dump

namespace {
std::mutex gDumpMutex;
}

void TrafficDump::show(char mark, const char* data, std::size_t length) {
    if (meMode == Off || length == 0) return;
    std::lock_guard<std::mutex> guard(gDumpMutex);
    unsigned long long& offset = mOffsets[mark == '<' ? 1 : 0];
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::string out;
    char head[32];
    if (meMode == Hex) {
        for (std::size_t line = 0; line < length; line += 16) {
            std::snprintf(head, sizeof head, "%c %08llx ", mark, offset + line);
            out += head;
            std::string text;
            for (std::size_t i = line; i < line + 16; ++i) {
                if (i < length) {
                    std::snprintf(head, sizeof head, " %02x", bytes[i]);
                    out += head;
                    text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
                } else {
                    out += "   ";
                }
            }
            out += "  " + text + "\n";
        }
    } else {
        // One line per received line of text; control bytes as escapes.
        bool lineStart = true;
        for (std::size_t i = 0; i < length; ++i) {
            if (lineStart) {
                std::snprintf(head, sizeof head, "%c %08llx  ", mark, offset + i);
                out += head;
                lineStart = false;
            }
            unsigned char c = bytes[i];
            if (c == '\n') out += "\\n\n", lineStart = true;
            else if (c == '\r') out += "\\r";
            else if (c == '\t') out += "\\t";
            else if (c == '\\') out += "\\\\";
            else if (c < 0x20 || c >= 0x7F) {
                std::snprintf(head, sizeof head, "\\x%02x", c);
                out += head;
            } else out += static_cast<char>(c);
        }
        if (!lineStart) out += "\n";
    }
    offset += length;
    std::fwrite(out.data(), 1, out.size(), mpOut);
    std::fflush(mpOut);
}

}  // namespace Tool
