// The relay for Python: two partnered proxies between two locators, started and stopped as a context manager.
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include <pybind11/stl.h>

#include <varonet/net/socket/TcpServer.h>
#include <varonet/udl/Proxy.h>
#include <varonet/udl/ServerDevice.h>

#include "Bindings.h"
#include "RelayObserver.h"

namespace PyVaronet {

namespace {

class Relay;
// Relays still running when the interpreter ends are stopped first (atexit):
// their threads must not reach for the GIL of an interpreter that is gone.
std::mutex gRunningLock;
std::set<Relay*> gRunning;

/// The relay's settings as Python gives them by keyword, in this one place.
struct RelaySettings {
    bool waitForReceiver = true;
    std::optional<std::pair<double, double>> retryPause{{0.1, 1.0}};

    void applyTo(UDL::Proxy& side) const {
        side.setReceiverClosed(waitForReceiver ? UDL::Proxy::WaitForReceiver : UDL::Proxy::DropWhileClosed);
        if (retryPause) {
            auto [first, most] = *retryPause;
            if (!(first >= 0 && most >= first && most <= 4e6))
                throw py::value_error("retry_pause is (first, most) seconds with 0 <= first <= most");
            side.setRetryPause(static_cast<unsigned int>(first * 1000), static_cast<unsigned int>(most * 1000));
        }
    }
};

std::optional<unsigned int> listeningPort(UDL::Proxy& side) {
    auto* server = dynamic_cast<IO::ServerDevice*>(side.getDevice());
    auto* tcp = server ? dynamic_cast<Net::TcpServer*>(server->getServer()) : nullptr;
    return tcp ? std::optional<unsigned int>(tcp->getLocalPort()) : std::nullopt;
}

class Relay {
public:
    Relay(const std::string& a, const std::string& b, const py::object& observer, const RelaySettings& settings)
        : mObserverA(observer), mObserverB(observer) {
        {
            py::gil_scoped_release released;  // a modem side talks to its modem here
            mpA = std::make_unique<UDL::Proxy>(a, &mObserverA);
            mpB = std::make_unique<UDL::Proxy>(b, &mObserverB);
        }
        settings.applyTo(*mpA);
        settings.applyTo(*mpB);
        mpA->partner(*mpB);
        mPorts = {listeningPort(*mpA), listeningPort(*mpB)};
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;
    ~Relay() {
        py::gil_scoped_release released;
        stop();
    }

    void start() {
        if (!mpA) throw py::value_error("a stopped relay does not start again; make a new one");
        std::lock_guard<std::mutex> guard(gRunningLock);
        gRunning.insert(this);
        mpA->start();
        mpB->start();
    }
    /// Ends both sides (within about a second) and closes their devices. Without the GIL.
    void stop() {
        {
            std::lock_guard<std::mutex> guard(gRunningLock);
            gRunning.erase(this);
        }
        std::lock_guard<std::mutex> stopping(mStopLock);  // the program's end may stop it as well
        mpA.reset();
        mpB.reset();
    }
    bool running() const { return mpA && mpA->isRunning(); }
    std::pair<std::optional<unsigned int>, std::optional<unsigned int>> ports() const { return mPorts; }

    static void stopAll() {
        std::set<Relay*> running;
        {
            std::lock_guard<std::mutex> guard(gRunningLock);
            running = gRunning;
        }
        py::gil_scoped_release released;
        for (Relay* relay : running) relay->stop();
    }

private:
    RelayObserver mObserverA, mObserverB;  // outlive the proxies, which borrow them
    std::unique_ptr<UDL::Proxy> mpA, mpB;
    std::pair<std::optional<unsigned int>, std::optional<unsigned int>> mPorts;
    std::mutex mStopLock;
};

}  // namespace

void bindRelay(py::module_& module) {
    py::class_<Relay>(module, "Relay", "Two devices relayed both ways; varonet.Relay wraps it.")
        .def(py::init([](const std::string& a, const std::string& b, const py::object& observer, bool waitForReceiver,
                         std::optional<std::pair<double, double>> retryPause) {
                 return std::make_unique<Relay>(a, b, observer, RelaySettings{waitForReceiver, retryPause});
             }),
             py::arg("a"), py::arg("b"), py::arg("observer"), py::arg("wait_for_receiver"), py::arg("retry_pause"))
        .def("start", &Relay::start, py::call_guard<py::gil_scoped_release>())
        .def("stop", &Relay::stop, py::call_guard<py::gil_scoped_release>())
        .def_property_readonly("running", &Relay::running)
        .def_property_readonly("ports", &Relay::ports);
    py::module_::import("atexit").attr("register")(py::cpp_function(&Relay::stopAll));
}

}  // namespace PyVaronet
