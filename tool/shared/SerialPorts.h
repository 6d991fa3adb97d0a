#pragma once
// Tool::SerialPort and findSerialPorts: the serial ports of the system's
// device database (udev), shared by the varonet tool and the Python module.
//
// A tty counts as a serial port when it hangs off a bus device (USB, PCI,
// PnP, ...). Ports of a platform driver (the legacy ttyS0..ttyS31 that exist
// whether or not a UART answers) and purely virtual ttys are left out.

#include <stdexcept>
#include <string>
#include <vector>

namespace Tool {

/// One port; a text the database does not know is empty.
struct SerialPort {
    std::string device, byId, subsystem, vendorId, productId, serial, manufacturer, description;

    /// The ready-to-use locator: the stable by-id name when there is one, else the device path.
    std::string locator(const std::string& baud) const {
        return "serial:" + (byId.empty() ? device : byId) + "@" + baud;
    }
};

/// The ports present; none is an empty list. Throws std::runtime_error when
/// the database cannot be read.
std::vector<SerialPort> findSerialPorts();

}  // namespace Tool
