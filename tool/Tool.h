#pragma once
// What the varonet subcommands share: exit statuses, the one-line failure
// report, the log target and device set-up.

#include <memory>
#include <stdexcept>
#include <string>

#include <varonet/base/Device.h>
#include <varonet/base/Exception.h>
#include <varonet/base/Logger.h>

#include "Signals.h"
#include "TrafficDump.h"

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

/// Resolves the locator with the --log logger; a locator that names no device
/// is a Failure that says so.
std::unique_ptr<IO::Device> resolveDevice(const std::string& locator);
/// Opens the device; a stop request wakes a waiting open. Failures name the
/// locator (and the peer's address when the device knows it).
void openDevice(IO::Device& device, const std::string& locator);

/// Where a server device listens and who called it ("ADDRESS:PORT"); empty
/// texts when the device does not tell (not a server, or not over TCP).
struct Endpoints {
    std::string listening;
    bool allInterfaces = false;
    std::string caller;
};
Endpoints endpointsOf(IO::Device& device);

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
