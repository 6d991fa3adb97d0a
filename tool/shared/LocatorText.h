#pragma once
// Tool::printLocator: a locator rendered for people with the tool's English
// texts, shared by `varonet print` and the Python module.

#include <optional>
#include <string>

namespace Tool {

struct PrintSettings {
    /// Keep the printer's markers (":\#" between label and value, "\h" before a nested block).
    bool raw = false;
    /// Let the printer's trace lines ("UDL : '...'") reach standard error.
    bool trace = false;
};

/// The rendering: nested locators indented, the values of one block lined
/// up, the value after "@" labelled by what it is for the protocol. Nothing
/// when the text is not a locator (no protocol word and ":").
std::optional<std::string> printLocator(const std::string& locator, PrintSettings settings = {});

}  // namespace Tool
