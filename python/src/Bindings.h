#pragma once
// The parts of the _varonet extension module, one function per subject; Module.cpp calls them in order.

#include <pybind11/pybind11.h>

namespace PyVaronet {

namespace py = pybind11;

class Device;

/// The module's device inside a varonet.Device (or given as it is); raises
/// ValueError when it is closed.
Device& deviceOf(py::handle device);

/// The exception classes of varonet.errors and the translation of the library's exceptions into them.
void bindErrors(py::module_& module);
/// Devices and servers: open, serve, read, write.
void bindDevices(py::module_& module);
/// The locator language: parse, the printer, error texts, the serial ports.
void bindLocators(py::module_& module);
/// ZMODEM file sessions.
void bindZModem(py::module_& module);
/// The T=1 block protocol.
void bindT1(py::module_& module);
/// The relay.
void bindRelay(py::module_& module);

}  // namespace PyVaronet
