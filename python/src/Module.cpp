// The _varonet extension module: the library's public API for the pure-Python package varonet.
#include "Bindings.h"

PYBIND11_MODULE(_varonet, module) {
    module.doc() = "The C++ core of the varonet package; use the package varonet, not this module.";
    module.attr("__version__") = VARONET_VERSION;
    PyVaronet::bindErrors(module);
    PyVaronet::bindLocators(module);
    PyVaronet::bindDevices(module);
    PyVaronet::bindZModem(module);
    PyVaronet::bindT1(module);
    PyVaronet::bindRelay(module);
}
