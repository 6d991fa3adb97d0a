// In-process serial port pairs wired like a null-modem cable, registered as port makers under their names.
#include <varonet/sim/VirtualSerialPair.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/base/SerialDevice.h>

namespace Sim {

using IO::Exception;
using IO::SerialPort;

namespace {

struct Wire {
    struct End {
        bool open = false;
        bool dtr = false;
        bool rts = false;
        std::vector<char> inbound;
        std::size_t head = 0;
    };
    std::mutex mutex;
    std::condition_variable changed;
    End ends[2];
};

struct Registry {
    std::mutex mutex;
    std::map<Base::String, std::pair<std::shared_ptr<Wire>, int>> ports;
};

Registry& registry() {
    static Registry r;
    return r;
}

class VirtualPort : public SerialPort {
public:
    VirtualPort(std::shared_ptr<Wire> wire, int side, Base::String name)
        : mWire(std::move(wire)), miSide(side), msName(std::move(name)) {}
    ~VirtualPort() override { close(); }

    void open() override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        if (mbOpen) return;
        Wire::End& me = mine();
        if (me.open) throw Exception(IO::ErrPortInUse, ".", __LINE__, "virtual port in use: " + msName);
        me.open = true;
        me.dtr = me.rts = true;
        me.inbound.clear();
        me.head = 0;
        mbOpen = true;
        mWire->changed.notify_all();
    }

    void close() override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        if (!mbOpen) return;
        Wire::End& me = mine();
        me.open = me.dtr = me.rts = false;
        me.inbound.clear();
        me.head = 0;
        mbOpen = false;
        mWire->changed.notify_all();
    }

    bool isOpen() const override { return mbOpen; }

    long readAvailable(char* buffer, long length) override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        Wire::End& me = openEnd();
        std::size_t n = std::min(static_cast<std::size_t>(length > 0 ? length : 0), me.inbound.size() - me.head);
        if (n == 0) return 0;
        std::memcpy(buffer, me.inbound.data() + me.head, n);
        me.head += n;
        if (me.head == me.inbound.size()) {
            me.inbound.clear();
            me.head = 0;
        }
        return static_cast<long>(n);
    }

    long write(const char* buffer, long length) override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        openEnd();
        Wire::End& other = theirs();
        if (other.open && length > 0) {
            other.inbound.insert(other.inbound.end(), buffer, buffer + length);
            mWire->changed.notify_all();
        }
        return length;
    }

    bool waitReadable(unsigned int ms) override {
        std::unique_lock<std::mutex> guard(mWire->mutex);
        openEnd();
        auto ready = [this] { return !mbOpen || mine().inbound.size() > mine().head; };
        if (ms == ~0u) mWire->changed.wait(guard, ready);
        else mWire->changed.wait_for(guard, std::chrono::milliseconds(ms), ready);
        return mbOpen && mine().inbound.size() > mine().head;
    }

    long available() override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        Wire::End& me = openEnd();
        return static_cast<long>(me.inbound.size() - me.head);
    }

    void setSpeed(unsigned int) override {}
    bool setCustomSpeed(unsigned int) override { return true; }
    void setFlow(EFlow) override {}
    bool hasModemLines() override { return true; }

    void setLine(ELine line, bool on) override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        Wire::End& me = openEnd();
        if (line == LineDTR) me.dtr = on;
        else if (line == LineRTS) me.rts = on;
        mWire->changed.notify_all();
    }

    unsigned int getLines() override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        Wire::End& me = openEnd();
        const Wire::End& other = theirs();
        unsigned int bits = 0;
        if (me.dtr) bits |= LineDTR;
        if (me.rts) bits |= LineRTS;
        if (other.open && other.dtr) bits |= LineDCD | LineDSR;
        if (other.open && other.rts) bits |= LineCTS;
        return bits;
    }

    void discard() override {
        std::lock_guard<std::mutex> guard(mWire->mutex);
        Wire::End& me = openEnd();
        me.inbound.clear();
        me.head = 0;
    }

    void drain() override {}
    /// A cable without a UART: there is no break state to hold.
    bool setBreak(bool) override { return false; }

private:
    Wire::End& mine() { return mWire->ends[miSide]; }
    Wire::End& theirs() { return mWire->ends[1 - miSide]; }
    Wire::End& openEnd() {
        if (!mbOpen) throw Exception(IO::ErrNotOpen, ".", __LINE__, "serial port not open: " + msName);
        return mine();
    }

    std::shared_ptr<Wire> mWire;
    int miSide;
    Base::String msName;
    bool mbOpen = false;
};

}  // namespace

void VirtualSerialPair::create(const Base::String& nameA, const Base::String& nameB) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (nameA == nameB || r.ports.count(nameA) || r.ports.count(nameB))
        throw Exception(IO::ErrBadArgument, ".", __LINE__, "virtual port name taken");
    auto wire = std::make_shared<Wire>();
    r.ports[nameA] = {wire, 0};
    r.ports[nameB] = {wire, 1};
    IO::SerialDevice::setPortMaker(nameA, [wire, nameA] { return std::make_unique<VirtualPort>(wire, 0, nameA); });
    IO::SerialDevice::setPortMaker(nameB, [wire, nameB] { return std::make_unique<VirtualPort>(wire, 1, nameB); });
}

void VirtualSerialPair::remove(const Base::String& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.ports.find(name);
    if (it == r.ports.end()) return;
    auto wire = it->second.first;
    for (auto i = r.ports.begin(); i != r.ports.end();) {
        if (i->second.first != wire) {
            ++i;
            continue;
        }
        IO::SerialDevice::removePortMaker(i->first);
        i = r.ports.erase(i);
    }
}

bool VirtualSerialPair::exists(const Base::String& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return r.ports.count(name) > 0;
}

std::unique_ptr<SerialPort> VirtualSerialPair::makePort(const Base::String& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.ports.find(name);
    if (it == r.ports.end()) return nullptr;
    return std::make_unique<VirtualPort>(it->second.first, it->second.second, name);
}

}  // namespace Sim
