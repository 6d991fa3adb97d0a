// PyVaronet::Errors: translation of the library's exceptions into varonet.Error and its kinds.
#include "Errors.h"

#include <cstdio>

#include <varonet/udl/ErrorText.h>
#include <varonet/udl/UDLErrors.h>

#include "Bindings.h"

namespace PyVaronet {

namespace {
// Borrowed from varonet.errors, which lives as long as the interpreter.
PyObject* gError = nullptr;
PyObject* gLocatorError = nullptr;
PyObject* gNoDeviceError = nullptr;
PyObject* gTimeoutError = nullptr;
PyObject* gSystemCallError = nullptr;

py::object make(PyObject* kind, const std::string& message, long long code, const std::string& meaning) {
    return py::reinterpret_borrow<py::object>(kind)(message, code, meaning);
}
}  // namespace

void Errors::install() {
    py::module_ errors = py::module_::import("varonet.errors");
    for (auto [slot, name] : {std::pair{&gError, "Error"},
                              {&gLocatorError, "LocatorError"},
                              {&gNoDeviceError, "NoDeviceError"},
                              {&gTimeoutError, "TimeoutError"},
                              {&gSystemCallError, "SystemCallError"}})
        *slot = py::object(errors.attr(name)).release().ptr();
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const Base::Exception& e) {
            py::object error = toPython(e);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());  // no throw here
        }
    });
}

py::object Errors::toPython(const Base::Exception& e) {
    const std::string message = UDL::ErrorText::describe(e).str();
    const unsigned int code = e.getErrorCode();
    if (e.isSystemError()) {
        py::object error =
            make(gSystemCallError, message, code, UDL::ErrorText::describeSystemError(static_cast<int>(code)).str());
        error.attr("errno") = code;
        return error;
    }
    PyObject* kind = gError;
    if (dynamic_cast<const Base::TimeoutException*>(&e)) kind = gTimeoutError;
    else if (code == UDL::ErrNoProtocol || code == UDL::ErrBadLocator) kind = gLocatorError;
    return make(kind, message, code, UDL::ErrorText::describe(code).str());
}

py::object Errors::forCode(long long code, const std::string& what) {
    std::string meaning = UDL::ErrorText::describe(code).str();
    char number[24];  // a ZMODEM result reads best in hex, as the tool writes it
    std::snprintf(number, sizeof number, code > 0xFFFF ? "0x%llX" : "%lld", code);
    return make(gError, what + ": " + meaning + " (code " + number + ")", code, meaning);
}

void Errors::raise(const py::object& error) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

void Errors::raiseNoDevice(const std::string& locator, const std::string& reason) {
    raise(py::reinterpret_borrow<py::object>(gNoDeviceError)("the locator '" + locator + "' names no device: " + reason,
                                                             py::none(), reason));
}

void bindErrors(py::module_& module) {
    Errors::install();
    module.def(
        "explain", [](long long code) { return UDL::ErrorText::describe(code).str(); }, py::arg("code"),
        "What a code of the library means (an exception's code or a ZMODEM session's result), the text "
        "`varonet explain CODE` prints.");
}

}  // namespace PyVaronet
