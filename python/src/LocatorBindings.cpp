// The locator language for Python: parse and build locators, the printer, and the serial ports as locators.
#include <map>
#include <optional>
#include <string>

#include <pybind11/stl.h>

#include <varonet/udl/UDLParser.h>

#include "Bindings.h"
#include "Errors.h"
#include "shared/LocatorText.h"
#include "shared/SerialPorts.h"

namespace PyVaronet {

namespace {

// The parser keeps the value after "@" under a key of the caller's choice; this
// one cannot be an option's name (an option's key never holds "@").
const char* const kAtKey = "@";

/// protocol, target, value after "@" (None without one), options.
using Parts = std::tuple<std::string, std::string, std::optional<std::string>, std::map<std::string, std::string>>;

Parts parse(const std::string& locator) {
    UDL::UDLParser parser(locator, kAtKey);
    std::optional<std::string> value;
    std::map<std::string, std::string> options;
    for (const auto& [key, text] : parser.getOptions()) {
        if (key == kAtKey) value = text.str();
        else options[key.str()] = text.str();
    }
    return {parser.getProtocol().str(), parser.getTarget().str(), value, options};
}

std::string format(const std::string& protocol, const std::string& target, std::optional<std::string> value,
                   const std::map<std::string, std::string>& options) {
    if (protocol.empty() || protocol.find_first_of(":@\\") != std::string::npos)
        throw py::value_error("a protocol word is not empty and holds no ':', '@' or '\\'");
    UDL::UDLParser parser;
    parser.setProtocol(protocol);
    parser.setTarget(target);
    for (const auto& [key, text] : options) {
        if (key.empty() || key.find_first_of("=,@:") != std::string::npos)
            throw py::value_error("the option name '" + key + "' is empty or holds one of = , @ :");
        parser.setOption(key, text);
    }
    if (value) parser.setOption(kAtKey, *value);
    return parser.asString(kAtKey, "").str();
}

std::optional<std::string> print(const std::string& locator, bool raw) {
    py::gil_scoped_release released;  // the printer hides its trace by moving standard error away for a moment
    return Tool::printLocator(locator, {.raw = raw});
}

/// One tuple per port, in the order of varonet.Port's fields.
py::list ports(unsigned int baud) {
    std::vector<Tool::SerialPort> found;
    try {
        py::gil_scoped_release released;
        found = Tool::findSerialPorts();
    } catch (const std::runtime_error& e) {
        Errors::raise(py::module_::import("varonet.errors").attr("Error")(e.what()));
    }
    auto text = [](const std::string& value) { return value.empty() ? py::object(py::none()) : py::str(value); };
    py::list out;
    for (const Tool::SerialPort& p : found)
        out.append(py::make_tuple(p.locator(std::to_string(baud)), p.device, text(p.byId), p.subsystem,
                                  text(p.vendorId), text(p.productId), text(p.serial), text(p.manufacturer),
                                  text(p.description)));
    return out;
}

}  // namespace

void bindLocators(py::module_& module) {
    module.def("parse_locator", &parse, py::arg("locator"));
    module.def("format_locator", &format, py::arg("protocol"), py::arg("target"), py::arg("value"), py::arg("options"));
    module.def("print_locator", &print, py::arg("locator"), py::arg("raw"));
    module.def("serial_ports", &ports, py::arg("baud"));
}

}  // namespace PyVaronet
