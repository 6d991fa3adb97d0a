#pragma once
// What the varonet subcommands share: exit statuses, the one-line failure
// report, the log target, signal handling and device set-up.

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <varonet/base/Device.h>
#include <varonet/base/Exception.h>
#include <varonet/base/Logger.h>

namespace CLI {
class App;
}

namespace Tool {

enum ExitStatus { ExitDone = 0, ExitFailed = 1, ExitUsage = 2 };

/// A failure reported as one line ("varonet SUBCOMMAND: message") with an exit status.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message, int status = ExitFailed)
        : std::runtime_error(message), miStatus(status) {}
    int status() const { return miStatus; }

private:
    int miStatus;
};

/// "what: meaning (code)" for a library exception.
std::string describe(const std::string& what, const Base::Exception& e);

/// A subcommand: registers its options on construction, runs when chosen.
class Command {
public:
    virtual ~Command() = default;
    /// The exit status; throws Failure or Base::Exception on failure.
    virtual int run() = 0;
    CLI::App* app() const { return mpApp; }

protected:
    CLI::App* mpApp = nullptr;
};

/// Where --log sends the library's logger, the ZMODEM debug lines and traces.
class LogTarget {
public:
    /// "-" is standard error; anything else a file appended to. Throws Failure.
    static void open(const std::string& target);
    /// The logger, or null when --log was not given.
    static Log::Logger* logger();
};

/// SIGINT, SIGTERM and SIGHUP end the running subcommand: they are taken by
/// a watcher thread (no handler runs inside a library call), which sets the
/// stop flag, makes stopFd() readable and runs the registered wake-ups.
class Signals {
public:
    /// Call once, before any other thread starts.
    static void install();
    static bool stopRequested();
    /// A descriptor that turns readable once a stop is requested (for poll).
    static int stopFd();
    /// Runs wake on the watcher thread when a stop comes (at once if one came).
    /// Returns an id for remove().
    static int onStop(std::function<void()> wake);
    static void remove(int id);
    /// Requests a stop from inside the program (as a signal would).
    static void requestStop();
};

/// Removes an onStop registration when it goes out of scope.
class StopHook {
public:
    explicit StopHook(std::function<void()> wake) : miId(Signals::onStop(std::move(wake))) {}
    ~StopHook() { Signals::remove(miId); }
    StopHook(const StopHook&) = delete;
    StopHook& operator=(const StopHook&) = delete;

private:
    int miId;
};

/// A serial target written as a path (serial:/dev/ttyUSB0@9600, nested ones
/// included) is registered in the port alias table under the name the
/// resolver keeps (the part after the last "/"), so the path is what opens.
void aliasPathTargets(const std::string& locator);
/// Resolves the locator with the --log logger; a locator that names no device
/// is a Failure that says so.
std::unique_ptr<IO::Device> resolveDevice(const std::string& locator);
/// Opens the device; a stop request wakes a waiting open. Failures name the
/// locator (and the peer's address when the device knows it).
void openDevice(IO::Device& device, const std::string& locator);

/// Shows relayed or exchanged bytes on standard error: "-x" as hex lines,
/// "-v" as text with escapes; each line starts with the direction mark and
/// the offset of its first byte in that direction. Safe from several threads.
class TrafficDump {
public:
    enum EMode { Off, Hex, Text };
    explicit TrafficDump(EMode mode, std::FILE* out = stderr) : meMode(mode), mpOut(out) {}
    static EMode modeOf(bool hex, bool text) { return hex ? Hex : text ? Text : Off; }
    bool isOn() const { return meMode != Off; }
    /// mark is '>' (towards the device or side B) or '<'.
    void show(char mark, const char* data, std::size_t length);

private:
    EMode meMode;
    std::FILE* mpOut;
    unsigned long long mOffsets[2] = {0, 0};
};

/// Registers a subcommand on the tool. Each one lives in its own source file.
std::unique_ptr<Command> makeCatCommand(CLI::App& tool);
std::unique_ptr<Command> makeTermCommand(CLI::App& tool);
std::unique_ptr<Command> makePrintCommand(CLI::App& tool);
std::unique_ptr<Command> makePortsCommand(CLI::App& tool);
std::unique_ptr<Command> makeT1Command(CLI::App& tool);
std::unique_ptr<Command> makeRelayCommand(CLI::App& tool);
std::unique_ptr<Command> makeExplainCommand(CLI::App& tool);
std::unique_ptr<Command> makeSendCommand(CLI::App& tool);
std::unique_ptr<Command> makeReceiveCommand(CLI::App& tool);
std::unique_ptr<Command> makeDemoCommand(CLI::App& tool);

}  // namespace Tool
