// Devices and servers for Python: open, serve, and reads that wait in slices without the GIL.
#include <climits>
#include <memory>
#include <optional>
#include <string>

#include <pybind11/stl.h>

#include <varonet/udl/BaseDeviceResolver.h>

#include "Bindings.h"
#include "BlockingCall.h"
#include "Deadline.h"
#include "Device.h"
#include "Errors.h"
#include "Server.h"

namespace PyVaronet {

namespace {

/// A device with the time-out its Python reads wait.
struct TimedDevice {
    std::unique_ptr<Device> device;
    std::optional<double> timeout;
};

std::optional<double> checkedTimeout(std::optional<double> seconds) {
    if (seconds && !(*seconds >= 0)) throw py::value_error("timeout must be None or a number of seconds >= 0");
    return seconds;
}

/// Reads into buffer[from, to) until it is full, the stream ends or the
/// deadline passes (with some: once anything came); the count in buffer. On a
/// signal, buffer[0, count) is held for the next read and the Python exception raised.
long readInto(Device& device, char* buffer, long from, long to, const Deadline& deadline, bool some = false) {
    long count = from + device.takeHeldAtOnce(buffer + from, to - from);  // no wait: the GIL stays
    if (some && count > from) return count;
    while (count < to) {
        unsigned int ms = deadline.slice();
        long n;
        {
            py::gil_scoped_release released;
            n = device.readSlice(buffer + count, to - count, ms);
        }
        if (n < 0) break;
        count += n;
        if (count >= to || deadline.passed() || (some && count > from)) break;
        if (PyErr_CheckSignals() != 0) {
            device.keep(buffer, count);
            throw py::error_already_set();
        }
    }
    return count;
}

Device& usable(TimedDevice& self) {
    if (self.device->isClosed()) throw py::value_error("I/O operation on a closed device");
    return *self.device;
}

py::bytes read(TimedDevice& self, std::optional<long> size) {
    Device& device = usable(self);
    const long want = !size || *size < 0 ? LONG_MAX : *size;
    // The buffer grows with the bytes that came, never with the size asked for alone.
    long capacity = std::min(want, 1L << 20), count = 0;
    PyObject* out = PyBytes_FromStringAndSize(nullptr, capacity);
    if (!out) throw py::error_already_set();
    py::object owner = py::reinterpret_steal<py::object>(out);
    Deadline deadline(self.timeout);
    for (;;) {
        count = readInto(device, PyBytes_AS_STRING(out), count, capacity, deadline);
        if (count < capacity || capacity == want) break;
        capacity = want - capacity > capacity ? capacity * 2 : want;
        owner.release();
        if (_PyBytes_Resize(&out, capacity) != 0) throw py::error_already_set();
        owner = py::reinterpret_steal<py::object>(out);
    }
    owner.release();
    if (_PyBytes_Resize(&out, count) != 0) throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(out);
}

long readinto(TimedDevice& self, py::buffer target) {
    Device& device = usable(self);
    py::buffer_info info = target.request(true);
    return readInto(device, static_cast<char*>(info.ptr), 0, static_cast<long>(info.size * info.itemsize),
                    Deadline(self.timeout));
}

py::bytes readUntil(TimedDevice& self, const std::string& expected, std::optional<long> size) {
    Device& device = usable(self);
    if (expected.empty()) throw py::value_error("expected must not be empty");
    const long most = size && *size >= 0 ? *size : LONG_MAX;
    std::string got;
    Deadline deadline(self.timeout);
    char chunk[4096];
    while (static_cast<long>(got.size()) < most) {
        long n;
        try {
            n = readInto(device, chunk, 0, std::min<long>(sizeof chunk, most - got.size()), deadline, true);
        } catch (py::error_already_set&) {
            device.keep(got.data(), static_cast<long>(got.size()));  // in front of the chunk's bytes
            throw;
        }
        if (n == 0) break;
        std::size_t from = got.size() >= expected.size() ? got.size() - expected.size() + 1 : 0;
        got.append(chunk, static_cast<std::size_t>(n));
        std::size_t found = got.find(expected, from);
        if (found != std::string::npos) {
            std::size_t end = found + expected.size();
            device.keep(got.data() + end, static_cast<long>(got.size() - end));
            got.resize(end);
            break;
        }
    }
    return py::bytes(got);
}

long write(TimedDevice& self, py::buffer data) {
    Device& device = usable(self);
    py::buffer_info info = data.request();
    long length = static_cast<long>(info.size * info.itemsize);
    py::gil_scoped_release released;
    device.write(static_cast<const char*>(info.ptr), length);
    return length;
}

std::unique_ptr<IO::Device> resolve(const std::string& locator) {
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device;
    {
        py::gil_scoped_release released;
        device.reset(resolver.resolve(locator, nullptr, nullptr));
    }
    if (!device) Errors::raiseNoDevice(locator, resolver.getReason().str());
    return device;
}

TimedDevice openDevice(const std::string& locator, std::optional<double> timeout) {
    TimedDevice opened{std::make_unique<Device>(resolve(locator), locator), checkedTimeout(timeout)};
    Device& device = *opened.device;
    BlockingCall().run([&] { device.open(); }, [&] { device.wakeUp(); });
    return opened;
}

std::unique_ptr<Server> serve(const std::string& locator) {
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::DeviceServer> server;
    {
        py::gil_scoped_release released;
        server.reset(resolver.resolveServer(locator, nullptr, nullptr));
    }
    if (!server) Errors::raiseNoDevice(locator, resolver.getReason().str());
    return std::make_unique<Server>(std::move(server), locator);
}

TimedDevice accept(Server& server, std::optional<double> timeout) {
    Deadline deadline(checkedTimeout(timeout));
    for (;;) {
        bool waiting;
        {
            py::gil_scoped_release released;
            waiting = server.waitForCaller(deadline.slice());
        }
        if (waiting) break;
        if (deadline.passed()) throw Base::TimeoutException(".", __LINE__, "no caller came to " + server.locator());
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    std::unique_ptr<Device> caller;
    {
        py::gil_scoped_release released;
        caller = server.accept();
    }
    if (!caller) throw Base::TimeoutException(".", __LINE__, "the caller of " + server.locator() + " went away");
    return TimedDevice{std::move(caller), std::nullopt};
}

}  // namespace

void bindDevices(py::module_& module) {
    py::class_<TimedDevice>(module, "Device", "A device of the library; varonet.Device wraps it.")
        .def("read", &read, py::arg("size") = -1,
             "Up to size bytes (size < 0 or None: until the stream ends); fewer when the time-out passed.")
        .def("readinto", &readinto, py::arg("buffer"), "Fills buffer as read(len(buffer)) would; the count.")
        .def("read_until", &readUntil, py::arg("expected"), py::arg("size"))
        .def("write", &write, py::arg("data"))
        .def(
            "flush", [](TimedDevice& self) { self.device->flush(); }, py::call_guard<py::gil_scoped_release>())
        .def(
            "close", [](TimedDevice& self) { self.device->close(); }, py::call_guard<py::gil_scoped_release>())
        .def_property_readonly(
            "in_waiting", [](TimedDevice& self) { return usable(self).inWaiting(); },
            py::call_guard<py::gil_scoped_release>())
        .def_property_readonly(
            "is_open", [](TimedDevice& self) { return self.device->isOpen(); },
            py::call_guard<py::gil_scoped_release>())
        .def_property_readonly("closed", [](TimedDevice& self) { return self.device->isClosed(); })
        .def_property_readonly("name", [](TimedDevice& self) { return self.device->locator(); })
        .def_property(
            "timeout", [](TimedDevice& self) { return self.timeout; },
            [](TimedDevice& self, std::optional<double> seconds) { self.timeout = checkedTimeout(seconds); });
    module.def("open_device", &openDevice, py::arg("locator"), py::arg("timeout"));

    py::class_<Server>(module, "Server", "A server of the library; varonet.Server wraps it.")
        .def("accept", &accept, py::arg("timeout"))
        .def("close", &Server::close, py::call_guard<py::gil_scoped_release>())
        .def_property_readonly("closed", &Server::isClosed)
        .def_property_readonly("name", &Server::locator)
        .def_property_readonly("port", &Server::port);
    module.def("serve", &serve, py::arg("locator"));
}

/// The module's device inside a varonet.Device (or the module's device itself).
Device& deviceOf(py::handle device) {
    py::handle inner = py::hasattr(device, "_device") ? device.attr("_device") : device;
    return usable(inner.cast<TimedDevice&>());
}

}  // namespace PyVaronet
