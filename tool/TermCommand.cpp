// varonet term LOCATOR: an interactive terminal on a device.
//
// The terminal goes into raw mode (every key goes to the device as typed,
// Ctrl-C included) and comes back as it was on every way out: the escape
// key, the device closing, a failure, or SIGINT/SIGTERM/SIGHUP.

#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "Bridge.h"

namespace Tool {

namespace {

/// Raw mode for a terminal for as long as it lives.
class RawTerminal {
public:
    explicit RawTerminal(int fd) : miFd(fd) {
        if (::tcgetattr(fd, &mSaved) != 0)
            throw Failure("term needs a terminal on standard input (use cat)", ExitUsage);
        termios raw = mSaved;
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    ~RawTerminal() { restore(); }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
    void restore() { ::tcsetattr(miFd, TCSANOW, &mSaved); }

private:
    int miFd;
    termios mSaved{};
};

/// "^]" or "^A" (a control key), or one character as it stands.
int parseKey(const std::string& text) {
    if (text.size() == 2 && text[0] == '^') return text[1] == '?' ? 0x7F : (text[1] & 0x1F);
    if (text.size() == 1) return static_cast<unsigned char>(text[0]);
    throw Failure("--escape takes a key such as ^] or ^A, not '" + text + "'", ExitUsage);
}

void say(const std::string& text, bool named = true) {
    std::string line = (named ? "varonet term: " : "") + text + "\r\n";
    [[maybe_unused]] ssize_t n = ::write(2, line.data(), line.size());
}

class TermCommand : public Command {
public:
    explicit TermCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("term", "Interactive terminal on a device (Ctrl-] q quits)");
        mpApp->footer(
            "The escape key (Ctrl-] unless --escape says otherwise), then:\n"
            "q  quit (or .)\n" +
            TerminalCommands::list() +
            "the escape key again sends it.\n"
            "Serial-port commands on another device say that it is not a serial port.\n"
            "A modem locator dials when the terminal starts and hangs up when it ends.\n"
            "Example: varonet term serial:ttyUSB0@115200 --enter crlf --log-file session.log");
        mpApp->add_option("locator", msLocator, "The device, e.g. serial:ttyUSB0@115200")->required();
        mpApp->add_option("--escape", msEscape, "The key that starts a command (then q quits), ^X style")
            ->default_val("^]");
        mpApp->add_flag("--echo", mbEcho, "Show typed keys locally");
        mpApp->add_option("--enter", msEnter, "What the Enter key sends")
            ->check(CLI::IsMember({"cr", "lf", "crlf"}))
            ->default_val("cr");
        mpApp->add_flag("--in-crlf", mbInCrLf, "Show a received LF as CR LF");
        mpApp->add_flag("-x,--hex", mbHex, "Hex dump of the traffic on standard error");
        mpApp->add_flag("-v,--verbose", mbText, "Text dump of the traffic on standard error");
        mpApp->add_option("--log-file", msLogFile, "Append what the device sends to FILE")->type_name("FILE");
        mpApp->add_flag("--timestamps", mbTimestamps, "Start each line in the --log-file with the time it came");
    }

    int run() override {
        int escape = parseKey(msEscape);
        if (!::isatty(0)) throw Failure("term needs a terminal on standard input (use cat)", ExitUsage);
        TrafficDump dump(TrafficDump::modeOf(mbHex, mbText));
        std::unique_ptr<SessionLog> log;
        if (!msLogFile.empty()) log = std::make_unique<SessionLog>(msLogFile, mbTimestamps);
        std::unique_ptr<IO::Device> device = resolveDevice(msLocator);
        // Dialling or waiting for a caller can take a while: say what is going on.
        say("opening " + msLocator);
        openDevice(*device, msLocator);
        Bridge::Options options;
        options.escape = escape;
        options.echo = mbEcho;
        options.enter = msEnter == "lf" ? "\n" : msEnter == "crlf" ? "\r\n" : "";
        options.inCrLf = mbInCrLf;
        options.lingerMs = 0;
        options.dump = dump.isOn() ? &dump : nullptr;
        options.log = log.get();
        Bridge::EEnd end;
        {
            RawTerminal raw(0);
            std::string name = device->getName().str();
            if (!name.empty() && msLocator.find(name) == std::string::npos) name = " (" + name + ")";
            else name.clear();
            say("connected to " + msLocator + name + "; " + keyName(escape) + " q quits, " + keyName(escape) +
                " ? lists commands");
            Bridge bridge(*device, options);
            end = bridge.run();
            // The last message starts on a line of its own, whatever the device sent last.
            std::string ending = end == Bridge::HungUp         ? msLocator + " hung up"
                                 : end == Bridge::DeviceClosed ? msLocator + " closed"
                                                               : "disconnected from " + msLocator;
            say((bridge.atLineStart() ? "" : "\r\n") + std::string("varonet term: ") + ending, false);
        }
        device->close();
        return end == Bridge::Stopped ? ExitFailed : ExitDone;
    }

private:
    static std::string keyName(int key) {
        if (key < 0x20) return std::string("Ctrl-") + static_cast<char>(key + 0x40);
        return std::string("'") + static_cast<char>(key) + "'";
    }

    std::string msLocator;
    std::string msEscape = "^]";
    bool mbEcho = false;
    std::string msEnter = "cr";
    bool mbInCrLf = false;
    bool mbHex = false;
    bool mbText = false;
    std::string msLogFile;
    bool mbTimestamps = false;
};

}  // namespace

std::unique_ptr<Command> makeTermCommand(CLI::App& tool) { return std::make_unique<TermCommand>(tool); }

}  // namespace Tool
