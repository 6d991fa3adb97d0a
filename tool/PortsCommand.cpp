// varonet ports: the serial ports present, from the system's device database
// (Tool::findSerialPorts says which ttys count).

#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "Tool.h"
#include "shared/SerialPorts.h"

namespace Tool {

namespace {

std::string json(const std::string& value) {
    if (value.empty()) return "null";
    std::string out = "\"";
    for (unsigned char c : value) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

class PortsCommand : public Command {
public:
    explicit PortsCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("ports", "List the serial ports present, each as a serial: locator");
        mpApp->footer("Example: varonet ports --baud 9600");
        mpApp->add_option("--baud", msBaud, "The baud rate the locators carry")
            ->check(CLI::IsMember({"110", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200",
                                   "230400", "460800", "921600"}))
            ->default_val("115200");
        mpApp->add_flag("--json", mbJson, "A JSON array for scripts");
    }

    int run() override {
        std::vector<SerialPort> ports;
        try {
            ports = findSerialPorts();
        } catch (const std::runtime_error& e) {
            throw Failure(e.what());
        }
        if (mbJson) {
            std::cout << "[";
            for (std::size_t i = 0; i < ports.size(); ++i) {
                const SerialPort& p = ports[i];
                std::cout << (i ? ",\n " : "\n ") << "{\"locator\": " << json(p.locator(msBaud))
                          << ", \"device\": " << json(p.device) << ", \"by_id\": " << json(p.byId)
                          << ", \"subsystem\": " << json(p.subsystem) << ", \"vendor_id\": " << json(p.vendorId)
                          << ", \"product_id\": " << json(p.productId) << ", \"serial_number\": " << json(p.serial)
                          << ", \"manufacturer\": " << json(p.manufacturer)
                          << ", \"description\": " << json(p.description) << "}";
            }
            std::cout << (ports.empty() ? "]\n" : "\n]\n");
            return ExitDone;
        }
        if (ports.empty()) std::cerr << "varonet ports: no serial ports found\n";
        for (const SerialPort& p : ports) {
            std::string about = p.description;
            if (!p.vendorId.empty()) about += " [" + p.vendorId + ":" + p.productId + "]";
            if (!p.serial.empty()) about += " serial " + p.serial;
            if (!p.manufacturer.empty()) about += ", " + p.manufacturer;
            if (!p.byId.empty()) about += ", " + p.device;
            std::cout << p.locator(msBaud) << "\n    " << p.subsystem << ": " << about << "\n";
        }
        return ExitDone;
    }

private:
    std::string msBaud = "115200";
    bool mbJson = false;
};

}  // namespace

std::unique_ptr<Command> makePortsCommand(CLI::App& tool) { return std::make_unique<PortsCommand>(tool); }

}  // namespace Tool
