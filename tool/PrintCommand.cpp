// varonet print LOCATOR: the locator printer with the tool's English texts.

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/UDLParser.h>

#include "Tool.h"
#include "shared/LocatorText.h"

namespace Tool {

namespace {

/// Why the locator names no device, in the resolver's words; empty when it
/// names one or cannot tell without using a device. Only locators whose
/// resolving touches nothing are resolved (none:, serial:); a modem's is
/// looked at through its nested locator.
std::string noDeviceReason(const std::string& locator) {
    try {
        UDL::UDLParser parsed(locator, "");
        std::string protocol = parsed.getProtocol().str();
        if (protocol == "modem" || protocol == "isdnmodem") return noDeviceReason(parsed.getTarget().str());
        if (protocol != "none" && protocol != "serial") return "";
        UDL::BaseDeviceResolver resolver;
        std::unique_ptr<IO::Device> device(resolver.resolve(locator, nullptr, nullptr));
        return device ? "" : resolver.getReason().str();
    } catch (const Base::Exception&) {
        return "";  // not for print to judge: the printer shows what it can
    }
}

class PrintCommand : public Command {
public:
    explicit PrintCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("print", "Show a locator for people: one line per element");
        mpApp->footer("Example: varonet print 'modem:serial\\:ttyUSB0\\@115200:Number=555,ConnectTimeout=60000'");
        mpApp->add_option("locator", msLocator, "The locator to show")->required();
        mpApp->add_flag("--raw", mbRaw, "Keep the printer's markers (:\\# and \\h)");
        mpApp->add_flag("--trace", mbTrace, "Keep the printer's trace lines (UDL : '...') on standard error");
    }

    int run() override {
        std::optional<std::string> printed = printLocator(msLocator, {.raw = mbRaw, .trace = mbTrace});
        if (!printed) throw Failure("'" + msLocator + "' is not a locator (it has no protocol word and \":\")");
        std::cout << *printed;
        std::string reason = noDeviceReason(msLocator);
        if (!reason.empty()) throw Failure("'" + msLocator + "' names no device: " + reason);
        return ExitDone;
    }

private:
    std::string msLocator;
    bool mbRaw = false;
    bool mbTrace = false;
};

}  // namespace

std::unique_ptr<Command> makePrintCommand(CLI::App& tool) { return std::make_unique<PrintCommand>(tool); }

}  // namespace Tool
