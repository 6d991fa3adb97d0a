#pragma once
// PyVaronet::RelayObserver: a relay side's observer that calls a Python object's methods.
//
// The relay's threads call it; each call takes the GIL for the Python method,
// so a slow method holds up that side of the relay. Methods the object lacks
// cost nothing; an exception in one is reported as unraisable and the relay
// goes on.

#include <atomic>

#include <pybind11/pybind11.h>

#include <varonet/udl/ProxyDumper.h>

namespace PyVaronet {

namespace py = pybind11;

class RelayObserver : public UDL::ProxyDumper {
public:
    /// observer may be None. Needs the GIL.
    explicit RelayObserver(py::object observer);
    RelayObserver(const RelayObserver&) = delete;
    RelayObserver& operator=(const RelayObserver&) = delete;
    /// Needs the GIL (the Python object is let go).
    ~RelayObserver() override = default;

    /// Told once per open, not on every pass of the relay.
    void opened(const Base::String& self, const Base::String& other) override;
    void dump(const Base::String& self, const Base::String& other, const Base::ByteArray& data) override;
    void closed(const Base::String& self, const Base::String& other) override;
    void openFailed(const Base::String& self, const Base::String& other, const Base::Exception& error) override;
    void dropped(const Base::String& self, const Base::String& other, long bytes) override;

private:
    enum Method { Opened, Dump, Closed, OpenFailed, Dropped, MethodCount };
    template <class... Args>
    void call(Method method, const Args&... args);

    py::object mObserver;
    bool mbHas[MethodCount] = {};
    std::atomic<bool> mbOpen{false};
};

}  // namespace PyVaronet
