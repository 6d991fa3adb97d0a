// varonet ports: the serial ports present, from the system's device database.
//
// A tty counts as a serial port when it hangs off a bus device (USB, PCI,
// PnP, ...). Ports of a platform driver (the legacy ttyS0..ttyS31 that exist
// whether or not a UART answers) and purely virtual ttys are left out.

#include <libudev.h>

#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "Tool.h"

namespace Tool {

namespace {

struct Port {
    std::string device, byId, subsystem, vendorId, productId, serial, manufacturer, description;
};

std::string text(const char* value) { return value ? value : ""; }

std::string sysattr(udev_device* device, const char* name) {
    return device ? text(udev_device_get_sysattr_value(device, name)) : "";
}

std::vector<Port> findPorts() {
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
    if (!context) throw Failure("the device database (udev) cannot be read");
    std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> scan(udev_enumerate_new(context.get()),
                                                                          udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(scan.get(), "tty");
    udev_enumerate_scan_devices(scan.get());
    std::vector<Port> ports;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        std::unique_ptr<udev_device, decltype(&udev_device_unref)> tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)), udev_device_unref);
        if (!tty || !udev_device_get_devnode(tty.get())) continue;
        // Climb past the serial core's own port devices to the bus device.
        udev_device* parent = udev_device_get_parent(tty.get());
        while (parent && (text(udev_device_get_subsystem(parent)) == "serial-base" ||
                          text(udev_device_get_subsystem(parent)) == "serial"))
            parent = udev_device_get_parent(parent);
        std::string bus = parent ? text(udev_device_get_subsystem(parent)) : "";
        if (bus.empty() || bus == "platform") continue;
        Port port;
        port.device = udev_device_get_devnode(tty.get());
        port.subsystem = bus;
        udev_list_entry* link;
        udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(tty.get())) {
            std::string name = udev_list_entry_get_name(link);
            if (name.rfind("/dev/serial/by-id/", 0) == 0) port.byId = name;
        }
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
        if (usb) {
            port.subsystem = "usb";
            port.vendorId = sysattr(usb, "idVendor");
            port.productId = sysattr(usb, "idProduct");
            port.serial = sysattr(usb, "serial");
            port.manufacturer = sysattr(usb, "manufacturer");
            port.description = sysattr(usb, "product");
        }
        if (port.description.empty())
            port.description = text(udev_device_get_property_value(tty.get(), "ID_MODEL_FROM_DATABASE"));
        if (port.description.empty()) port.description = sysattr(parent, "id");  // a PnP id such as PNP0501
        ports.push_back(port);
    }
    return ports;
}

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
        std::vector<Port> ports = findPorts();
        if (mbJson) {
            std::cout << "[";
            for (std::size_t i = 0; i < ports.size(); ++i) {
                const Port& p = ports[i];
                std::cout << (i ? ",\n " : "\n ") << "{\"locator\": " << json(locator(p))
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
        for (const Port& p : ports) {
            std::string about = p.description;
            if (!p.vendorId.empty()) about += " [" + p.vendorId + ":" + p.productId + "]";
            if (!p.serial.empty()) about += " serial " + p.serial;
            if (!p.manufacturer.empty()) about += ", " + p.manufacturer;
            if (!p.byId.empty()) about += ", " + p.device;
            std::cout << locator(p) << "\n    " << p.subsystem << ": " << about << "\n";
        }
        return ExitDone;
    }

private:
    std::string locator(const Port& p) const { return "serial:" + (p.byId.empty() ? p.device : p.byId) + "@" + msBaud; }

    std::string msBaud = "115200";
    bool mbJson = false;
};

}  // namespace

std::unique_ptr<Command> makePortsCommand(CLI::App& tool) { return std::make_unique<PortsCommand>(tool); }

}  // namespace Tool
