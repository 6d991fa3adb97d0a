// varonet cat LOCATOR: standard input to the device, the device to standard output.

#include <CLI/CLI.hpp>

#include "Bridge.h"

namespace Tool {

namespace {

class CatCommand : public Command {
public:
    explicit CatCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("cat", "Join standard input and output with a device, both ways");
        mpApp->footer(
            "Ends when the input ends (once the device has been silent for the linger time) or when the\n"
            "device closes.\n"
            "Example: printf 'ATI\\r' | varonet cat serial:ttyUSB0@115200");
        mpApp->add_option("locator", msLocator, "The device, e.g. tcpip:localhost@7 or serial:ttyUSB0@115200")
            ->required();
        mpApp->add_option("--linger", muLingerMs, "After the input ended, stop once the device was silent MS ms")
            ->default_val(500);
        mpApp->add_flag("-x,--hex", mbHex, "Hex dump of the traffic on standard error");
        mpApp->add_flag("-v,--verbose", mbText, "Text dump of the traffic on standard error");
        mpApp->add_option("--log-file", msLogFile, "Append what the device sends to FILE")->type_name("FILE");
        mpApp->add_flag("--timestamps", mbTimestamps, "Start each line in the --log-file with the time it came");
    }

    int run() override {
        TrafficDump dump(TrafficDump::modeOf(mbHex, mbText));
        std::unique_ptr<SessionLog> log;
        if (!msLogFile.empty()) log = std::make_unique<SessionLog>(msLogFile, mbTimestamps);
        std::unique_ptr<IO::Device> device = resolveDevice(msLocator);
        openDevice(*device, msLocator);
        Bridge::Options options;
        options.lingerMs = muLingerMs;
        options.dump = dump.isOn() ? &dump : nullptr;
        options.log = log.get();
        Bridge bridge(*device, options);
        Bridge::EEnd end = bridge.run();
        device->close();
        return end == Bridge::Stopped ? ExitFailed : ExitDone;
    }

private:
    std::string msLocator;
    unsigned int muLingerMs = 500;
    bool mbHex = false;
    bool mbText = false;
    std::string msLogFile;
    bool mbTimestamps = false;
};

}  // namespace

std::unique_ptr<Command> makeCatCommand(CLI::App& tool) { return std::make_unique<CatCommand>(tool); }

}  // namespace Tool
