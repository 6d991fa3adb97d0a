// varonet explain CODE...: what a code of the library means.

#include <iostream>

#include <CLI/CLI.hpp>

#include <varonet/udl/ErrorText.h>

#include "Tool.h"

namespace Tool {

namespace {

class ExplainCommand : public Command {
public:
    explicit ExplainCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("explain", "Say what an error code of the library means");
        mpApp->footer("Example: varonet explain 1559 0x2000000C -1; varonet explain --errno 111");
        mpApp->add_option("codes", mvCodes, "Codes in decimal or 0x hex (ZMODEM results too)")->required();
        mpApp->add_flag("--errno", mbSystem, "The codes are system error numbers (errno)");
        mpApp->add_flag("--capi", mbCapi, "The codes are results of the CAPI wrapper");
    }

    int run() override {
        int status = ExitDone;
        for (const std::string& text : mvCodes) {
            long long code = 0;
            std::size_t used = 0;
            try {
                code = std::stoll(text, &used, 0);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != text.size() || text.empty()) throw Failure("'" + text + "' is not a number", ExitUsage);
            std::string meaning = mbSystem ? UDL::ErrorText::describeSystemError(static_cast<int>(code)).str()
                                  : mbCapi ? UDL::ErrorText::describeCapiResult(static_cast<int>(code)).str()
                                           : UDL::ErrorText::describe(code).str();
            if (!mbSystem && !mbCapi && !UDL::ErrorText::isKnown(code)) status = ExitFailed;
            char head[64];
            std::snprintf(head, sizeof head, code < 0 ? "%lld" : "%lld = 0x%llX", code, code);
            std::cout << head << ": " << meaning << "\n";
        }
        return status;
    }

private:
    std::vector<std::string> mvCodes;
    bool mbSystem = false;
    bool mbCapi = false;
};

}  // namespace

std::unique_ptr<Command> makeExplainCommand(CLI::App& tool) { return std::make_unique<ExplainCommand>(tool); }

}  // namespace Tool
