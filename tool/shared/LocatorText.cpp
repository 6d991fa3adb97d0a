// Tool::printLocator: the locator printer with the tool's English texts and a terminal's layout.
#include "LocatorText.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <vector>

#include <varonet/base/Translator.h>
#include <varonet/udl/UDLPrinter.h>

namespace Tool {

namespace {

const std::pair<unsigned int, const char*> kTexts[] = {
    {1289, "Protocol"},
    {1320, "Target"},
    {1209, "Attempts"},
    {1086, "Connect time-out"},
    {1134, "Wait on connect"},
    {1364, "Receive time-out"},
    {1210, "Redial wait"},
    {1413, "Flow control"},
    {1085, "Number"},
    {1091, "User data"},
    {1141, "Second init string"},
    {1183, "(s)"},
    {1182, "(ms)"},
};

/// What the value after "@" is for a protocol (the printer calls it "Baudrate" for all).
std::string atValueLabel(const std::string& protocol) {
    if (protocol == "serial" || protocol == "fastserial") return "Baud rate:";
    if (protocol == "tcpip") return "Port:";
    if (protocol == "file") return "Mode:";
    return "Baudrate:";
}

/// The printer's markers for a terminal: ":\#" becomes ":" and the values of
/// one block line up; "\h" (the start of a nested block) is dropped, since
/// the block's indentation already shows it; the value after "@" is labelled
/// by what it is for the block's protocol.
std::string render(const std::string& printed) {
    struct Line {
        std::string label, value;
        bool split;
    };
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < printed.size()) {
        std::size_t end = printed.find('\n', start);
        if (end == std::string::npos) end = printed.size();
        std::string text = printed.substr(start, end - start);
        start = end + 1;
        std::size_t mark = text.find(":\\#");
        if (mark == std::string::npos) lines.push_back({text, "", false});
        else lines.push_back({text.substr(0, mark + 1), text.substr(mark + 3), true});
        if (lines.back().value == "\\h") lines.back().value.clear();
    }
    std::map<std::size_t, std::size_t> width;  // per indentation
    auto indentOf = [](const std::string& label) { return label.find_first_not_of(' '); };
    std::map<std::size_t, std::string> protocol;  // of the block at each indentation
    for (Line& line : lines) {
        std::size_t indent = indentOf(line.label);
        if (indent == std::string::npos) continue;
        if (line.label.compare(indent, std::string::npos, "Protocol:") == 0) protocol[indent] = line.value;
        if (line.label.compare(indent, std::string::npos, "Baudrate:") == 0)
            line.label = line.label.substr(0, indent) + atValueLabel(protocol[indent]);
    }
    for (const Line& line : lines)
        if (line.split) width[indentOf(line.label)] = std::max(width[indentOf(line.label)], line.label.size());
    std::string out;
    for (const Line& line : lines) {
        std::string text = line.label;
        if (line.split && !line.value.empty())
            text += std::string(width[indentOf(line.label)] - text.size() + 1, ' ') + line.value;
        out += text + "\n";
    }
    return out;
}

}  // namespace

std::optional<std::string> printLocator(const std::string& locator, PrintSettings settings) {
    Base::TableTranslator texts;
    for (const auto& [number, text] : kTexts) texts.setText(number, Base::Translator::English, text);
    UDL::UDLPrinter printer(&texts, Base::Translator::English);
    // The printer traces each locator it parses to standard error; that
    // is for diagnosis and stays hidden unless asked for.
    int saved = -1;
    if (!settings.trace) {
        std::fflush(stderr);
        saved = ::dup(2);
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, 2), ::close(null);
    }
    std::string printed = printer.print(locator).str();
    if (saved >= 0) {
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
    }
    if (printed == locator) return std::nullopt;
    return settings.raw ? printed : render(printed);
}

}  // namespace Tool
