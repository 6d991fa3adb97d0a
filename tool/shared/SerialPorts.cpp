// Tool::findSerialPorts: the serial ports of the system's device database (udev).
#include "SerialPorts.h"

#include <libudev.h>

#include <memory>

namespace Tool {

namespace {

std::string text(const char* value) { return value ? value : ""; }

std::string sysattr(udev_device* device, const char* name) {
    return device ? text(udev_device_get_sysattr_value(device, name)) : "";
}

}  // namespace

std::vector<SerialPort> findSerialPorts() {
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
    if (!context) throw std::runtime_error("the device database (udev) cannot be read");
    std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> scan(udev_enumerate_new(context.get()),
                                                                          udev_enumerate_unref);
    udev_enumerate_add_match_subsystem(scan.get(), "tty");
    udev_enumerate_scan_devices(scan.get());
    std::vector<SerialPort> ports;
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
        SerialPort port;
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

}  // namespace Tool
