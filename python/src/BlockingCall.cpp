// PyVaronet::BlockingCall: runs a blocking library call on a worker thread while Python waits in slices.
#include "BlockingCall.h"

#include <exception>
#include <thread>

#include <pybind11/pybind11.h>

namespace PyVaronet {

namespace py = pybind11;

void BlockingCall::run(const std::function<void()>& work, const std::function<void()>& wake,
                       const std::function<void()>& between) {
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(mMutex);
        mbDone = true;
        mChanged.notify_all();
    });
    for (bool done = false; !done;) {
        {
            py::gil_scoped_release released;
            std::unique_lock<std::mutex> lock(mMutex);
            mChanged.wait_for(lock, SliceMs, [this] { return mbDone || mbPoked; });
            done = mbDone;
            mbPoked = false;
        }
        try {
            if (between) between();
            if (!done && PyErr_CheckSignals() != 0) throw py::error_already_set();
        } catch (...) {
            wake();
            py::gil_scoped_release released;
            worker.join();
            throw;
        }
    }
    {
        py::gil_scoped_release released;
        worker.join();
    }
    if (failure) std::rethrow_exception(failure);
}

void BlockingCall::poke() {
    std::lock_guard<std::mutex> guard(mMutex);
    mbPoked = true;
    mChanged.notify_all();
}

}  // namespace PyVaronet
