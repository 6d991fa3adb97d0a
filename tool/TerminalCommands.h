#pragma once
// Tool::TerminalCommands: what term does after its escape key, on a serial port.

#include <string>

#include <varonet/udl/SharedDevice.h>

namespace Tool {

/// The escape-key commands of term: a break, the baud rate, flow control,
/// DTR and RTS, the modem lines. A device that is not a serial port says so.
class TerminalCommands {
public:
    explicit TerminalCommands(UDL::SharedDevice& device) : mrDevice(device) {}
    /// The command list, one line each ("b  send a break (250 ms)").
    static std::string list();
    /// True when key names a command.
    static bool isCommand(char key);
    /// Runs the command of key; what happened, in one line.
    std::string run(char key);

private:
    UDL::SharedDevice& mrDevice;
    bool mbDTR = true;  // the port raises both when it opens
    bool mbRTS = true;
};

}  // namespace Tool
