// varonet: every locator of the library usable from the command line.
//
// Exit statuses: 0 done, 1 failed, 2 usage (an unknown subcommand or option,
// a missing or malformed argument).

#include <algorithm>
#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>

#include <varonet/udl/ErrorText.h>

#include "Tool.h"

int main(int argc, char** argv) {
    CLI::App tool("varonet: serial ports, modems, TCP, pipes, files, T=1 and ZMODEM, named by one locator", "varonet");
    tool.set_version_flag("--version", "varonet " VARONET_VERSION);
    tool.require_subcommand(1);
    tool.fallthrough();
    tool.footer("Exit status: 0 done, 1 failed, 2 usage. 'varonet SUBCOMMAND --help' tells more.");
    std::string logTarget;
    tool.add_option("--log", logTarget,
                    "Log the library's dialogue (AT commands, T=1 blocks, ZMODEM) to FILE or - "
                    "(standard error)")
        ->type_name("FILE|-");

    std::vector<std::unique_ptr<Tool::Command>> commands;
    commands.push_back(Tool::makeCatCommand(tool));
    commands.push_back(Tool::makeTermCommand(tool));
    commands.push_back(Tool::makeSendCommand(tool));
    commands.push_back(Tool::makeReceiveCommand(tool));
    commands.push_back(Tool::makeRelayCommand(tool));
    commands.push_back(Tool::makePrintCommand(tool));
    commands.push_back(Tool::makePortsCommand(tool));
    commands.push_back(Tool::makeT1Command(tool));
    commands.push_back(Tool::makeExplainCommand(tool));
    commands.push_back(Tool::makeDemoCommand(tool));

    try {
        tool.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return tool.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
        // One line, as every error of the tool: the first word that is not an option names the subcommand.
        std::string help = "varonet --help";
        for (int i = 1; i < argc; ++i) {
            std::string word = argv[i];
            if (word == "--log") ++i;
            else if (word.empty() || word[0] != '-') {
                if (tool.get_subcommands([&](CLI::App* sub) { return sub->get_name() == word; }).empty()) {
                    std::cerr << "varonet: '" << word << "' is not a subcommand; 'varonet --help' lists them\n";
                    return Tool::ExitUsage;
                }
                help = "varonet " + word + " --help";
                break;
            }
        }
        std::string message = e.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        std::cerr << "varonet: " << message << " ('" << help << "' tells more)\n";
        return Tool::ExitUsage;
    }

    Tool::Command* chosen = nullptr;
    for (auto& command : commands)
        if (command->app()->parsed()) chosen = command.get();
    std::string name = "varonet " + chosen->app()->get_name();
    try {
        Tool::Signals::install();
        if (!logTarget.empty()) Tool::LogTarget::open(logTarget);
        return chosen->run();
    } catch (const Tool::Failure& e) {
        // Usage errors all start alike, whichever subcommand found them.
        if (e.status() == Tool::ExitUsage)
            std::cerr << "varonet: " << chosen->app()->get_name() << ": " << e.what() << "\n";
        else std::cerr << name << ": " << e.what() << "\n";
        return e.status();
    } catch (const Base::Exception& e) {
        std::cerr << name << ": " << UDL::ErrorText::describe(e).str() << "\n";
        return Tool::ExitFailed;
    } catch (const std::exception& e) {
        std::cerr << name << ": " << e.what() << "\n";
        return Tool::ExitFailed;
    }
}
