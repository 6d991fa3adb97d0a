#pragma once
// PyVaronet::Errors: the library's exceptions as instances of the classes in varonet.errors.

#include <string>

#include <pybind11/pybind11.h>

#include <varonet/base/Exception.h>

namespace PyVaronet {

namespace py = pybind11;

class Errors {
public:
    /// Looks the classes up in varonet.errors and registers the translation of
    /// Base::Exception (and its kinds) for every bound call.
    static void install();
    /// The Python exception for a library exception: SystemCallError for an
    /// errno value, TimeoutError for a time-out, LocatorError for the parser's
    /// and resolver's codes, Error for the rest. Needs the GIL.
    static py::object toPython(const Base::Exception& exception);
    /// An Error for a code without an exception (a ZMODEM session's result).
    static py::object forCode(long long code, const std::string& what);
    /// Raises error (a varonet.Error) as the current Python exception.
    [[noreturn]] static void raise(const py::object& error);
    /// Raises NoDeviceError: the locator names no device, for reason.
    [[noreturn]] static void raiseNoDevice(const std::string& locator, const std::string& reason);
};

}  // namespace PyVaronet
