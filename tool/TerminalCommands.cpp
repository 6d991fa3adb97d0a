// Tool::TerminalCommands: term's escape-key commands on a serial port.
#include "TerminalCommands.h"

#include <cstring>

#include <varonet/base/Exception.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/udl/ErrorText.h>

namespace Tool {

namespace {

constexpr unsigned int kBreakMs = 250;

const struct {
    char key;
    const char* what;
} kCommands[] = {
    {'b', "send a break (250 ms)"},
    {'u', "baud rate up"},
    {'d', "baud rate down"},
    {'f', "flow control: none, hardware, software"},
    {'t', "toggle DTR"},
    {'r', "toggle RTS"},
    {'l', "show the modem lines"},
    {'?', "list these commands"},
};

using Serial = IO::SerialDevice;

std::string onOff(bool on) { return on ? "on" : "off"; }

std::string flowName(Serial::EFlowControl flow) {
    return flow == Serial::FlowHardware ? "hardware" : flow == Serial::FlowSoftware ? "software" : "none";
}

std::string lines(Serial& port) {
    if (!port.hasModemLines()) return "the port has no modem lines (a pseudo-terminal)";
    return "DCD " + onOff(port.readDCD()) + ", DSR " + onOff(port.readDSR()) + ", CTS " + onOff(port.readCTS()) +
           ", RI " + onOff(port.readRI());
}

}  // namespace

std::string TerminalCommands::list() {
    std::string text;
    for (const auto& command : kCommands) text += std::string(1, command.key) + "  " + command.what + "\n";
    return text;
}

bool TerminalCommands::isCommand(char key) {
    for (const auto& command : kCommands)
        if (command.key == key) return true;
    return false;
}

std::string TerminalCommands::run(char key) {
    if (key == '?' || !isCommand(key)) return "commands: " + list();
    std::string said;
    mrDevice.withDevice([&](IO::Device& device) {
        auto* port = dynamic_cast<Serial*>(&device);
        if (!port) {
            said = "not a serial port: no break, baud rate, flow control or modem lines";
            return;
        }
        try {
            int rate = static_cast<int>(port->getBaudrate());
            switch (key) {
                case 'b': said = port->sendBreak(kBreakMs) ? "break sent" : "the port cannot send a break"; break;
                case 'u':
                case 'd':
                    rate =
                        key == 'u' ? std::min(rate + 1, static_cast<int>(Serial::Baud921600)) : std::max(rate - 1, 0);
                    port->setBaudrate(static_cast<Serial::EBaudRate>(rate));
                    said = "baud rate " + std::to_string(Serial::toBitsPerSecond(port->getBaudrate()));
                    break;
                case 'f':
                    port->setFlowControl(static_cast<Serial::EFlowControl>((port->getFlowControl() + 1) % 3));
                    said = "flow control " + flowName(port->getFlowControl());
                    break;
                case 't': port->toggleDTR(mbDTR = !mbDTR), said = "DTR " + onOff(mbDTR); break;
                case 'r': port->setRTS(mbRTS = !mbRTS), said = "RTS " + onOff(mbRTS); break;
                default: said = lines(*port);
            }
        } catch (const Base::Exception& e) {
            said = UDL::ErrorText::describe(e).str();
        }
    });
    return said;
}

}  // namespace Tool
