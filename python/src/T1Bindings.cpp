// T=1 for Python: a Protocol that exchanges bytes with one node, each exchange on a worker thread.
#include <string>

#include <varonet/t1/Protocol.h>

#include "Bindings.h"
#include "BlockingCall.h"
#include "Device.h"

namespace PyVaronet {

namespace {

/// The settings of a T=1 link that Python gives by keyword; Python's
/// seconds become the protocol's milliseconds here and nowhere else.
struct T1Settings {
    unsigned int node = 0;
    double blockWaitingTime = 1.0;
    double characterWaitingTime = 0.1;

    static unsigned int milliseconds(double seconds, const char* name) {
        if (!(seconds >= 0 && seconds <= 4e6)) throw py::value_error(std::string(name) + " must be 0 to 4e6 seconds");
        return static_cast<unsigned int>(seconds * 1000 + 0.5);
    }
    T1::Protocol makeProtocol(IO::Device& device) const {
        if (node > 0xFF) throw py::value_error("node is one byte, 0 to 255");
        return T1::Protocol(&device, {.blockWaitingTime = milliseconds(blockWaitingTime, "bwt"),
                                      .characterWaitingTime = milliseconds(characterWaitingTime, "cwt")});
    }
};

class T1Link {
public:
    T1Link(py::object device, const T1Settings& settings)
        : mDeviceObject(std::move(device)), mrDevice(deviceOf(mDeviceObject)),
          mProtocol(settings.makeProtocol(mrDevice.forSessions())), mNode(static_cast<std::uint8_t>(settings.node)) {}

    void send(const std::string& data) {
        run([&] { mProtocol.send(T1::Frame(mNode, Base::ByteArray(data.data(), data.size()))); });
    }
    py::bytes receive() {
        std::string answer;
        run([&] { answer = take(mProtocol.receive(mNode)); });
        return py::bytes(answer);
    }
    py::bytes exchange(const std::string& data) {
        std::string answer;
        run([&] {
            mProtocol.send(T1::Frame(mNode, Base::ByteArray(data.data(), data.size())));
            answer = take(mProtocol.receive(mNode));
        });
        return py::bytes(answer);
    }
    unsigned int node() const { return mNode.getNode(); }

private:
    static std::string take(const T1::Frame& frame) {
        return std::string(frame.getData().chars(), frame.getData().size());
    }
    /// f with the device to itself, on a worker thread that Ctrl-C wakes.
    void run(const std::function<void()>& f) {
        deviceOf(mDeviceObject);  // still open
        BlockingCall().run([&] { mrDevice.exclusive([&](IO::Device&) { f(); }); }, [&] { mrDevice.wakeUp(); });
    }

    py::object mDeviceObject;  // keeps the device alive
    Device& mrDevice;
    T1::Protocol mProtocol;
    T1::NodeAddress mNode;
};

}  // namespace

void bindT1(py::module_& module) {
    py::class_<T1Link>(module, "T1Protocol", "The T=1 block protocol with one node; varonet.t1.Protocol.")
        .def(py::init([](py::object device, unsigned int node, double bwt, double cwt) {
                 return std::make_unique<T1Link>(std::move(device), T1Settings{node, bwt, cwt});
             }),
             py::arg("device"), py::arg("node") = 0, py::arg("bwt") = 1.0, py::arg("cwt") = 0.1,
             "Exchanges frames with node (the NAD byte) over an open varonet device. bwt is the block waiting "
             "time, the longest wait for the first byte of a block, and cwt the character waiting time, the longest "
             "wait for each further byte, both in seconds.")
        .def("send", &T1Link::send, py::arg("data"),
             "Sends data as one frame (a chain of blocks when it is long); the node's answer confirms its last "
             "block: read it with receive().")
        .def("receive", &T1Link::receive,
             "The node's next frame, recovering from lost, late and damaged blocks; raises varonet.Error "
             "(codes 3840 to 3843) when the node cannot be brought to answer.")
        .def("exchange", &T1Link::exchange, py::arg("data"), "send(data), then receive(): the node's answer.")
        .def_property_readonly("node", &T1Link::node, "The node address (NAD) of every block.");
}

}  // namespace PyVaronet
