// PyVaronet::RelayObserver: relay events to a Python object, on the relay's threads.
#include "RelayObserver.h"

#include "Errors.h"

namespace PyVaronet {

namespace {
const char* const kNames[] = {"opened", "dump", "closed", "open_failed", "dropped"};
}

RelayObserver::RelayObserver(py::object observer) : mObserver(std::move(observer)) {
    for (int m = 0; m < MethodCount; ++m) mbHas[m] = !mObserver.is_none() && py::hasattr(mObserver, kNames[m]);
}

template <class... Args>
void RelayObserver::call(Method method, const Args&... args) {
    if (!mbHas[method]) return;
    py::gil_scoped_acquire gil;
    try {
        mObserver.attr(kNames[method])(args...);
    } catch (py::error_already_set& e) {
        e.discard_as_unraisable(kNames[method]);
    }
}

void RelayObserver::opened(const Base::String& self, const Base::String& other) {
    if (!mbOpen.exchange(true)) call(Opened, self.str(), other.str());
}

void RelayObserver::dump(const Base::String& self, const Base::String& other, const Base::ByteArray& data) {
    if (!mbHas[Dump]) return;
    py::gil_scoped_acquire gil;
    call(Dump, self.str(), other.str(), py::bytes(data.chars(), data.size()));
}

void RelayObserver::closed(const Base::String& self, const Base::String& other) {
    mbOpen = false;
    call(Closed, self.str(), other.str());
}

void RelayObserver::openFailed(const Base::String& self, const Base::String& other, const Base::Exception& error) {
    if (!mbHas[OpenFailed]) return;
    py::gil_scoped_acquire gil;
    call(OpenFailed, self.str(), other.str(), Errors::toPython(error));
}

void RelayObserver::dropped(const Base::String& self, const Base::String& other, long bytes) {
    call(Dropped, self.str(), other.str(), bytes);
}

}  // namespace PyVaronet
