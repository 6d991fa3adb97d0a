// One caller of the RFC 2217 server: its data, its settings for the port, the port's lines.
#include <varonet/net/rfc2217/detail/Rfc2217Connection.h>

#include <cerrno>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/net/rfc2217/detail/TelnetCodes.h>

// caller                                  server            serial port
//   IAC WILL COM-PORT --------------------->
//   <--------------------- IAC DO COM-PORT
//   <--------------------- SB NOTIFY-MODEMSTATE lines    <-- read every 100 ms
//   SB SET-BAUDRATE 115200 ---------------> setBitRate --->
//   <--------------------- SB SET-BAUDRATE+100 115200     (the rate the port took)
//   data (255 doubled) ------------------> data --------->

namespace Net {

using namespace Telnet;

namespace {
constexpr unsigned int kPollMs = 100;  // how often the modem lines are read while waiting
constexpr unsigned int kSliceMs = 50;  // the longest wait without a look at the lines
constexpr unsigned int kFlowSliceMs = 100;
const char kSignature[] = "varonet";

std::string be32(unsigned int value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }
}  // namespace

Rfc2217Connection::Rfc2217Connection(std::unique_ptr<IO::Device> transport, std::shared_ptr<Rfc2217PortAccess> access)
    : mpAccess(std::move(access)), mLink(std::move(transport),
                                         TelnetOptions({OptionBinary, OptionSuppressGoAhead, OptionEcho},
                                                       {OptionBinary, OptionSuppressGoAhead, OptionComPort}),
                                         *this) {}

Rfc2217Connection::~Rfc2217Connection() = default;

bool Rfc2217Connection::isOpen() { return mLink.isOpen(); }

void Rfc2217Connection::open() {
    if (!isOpen()) throw IO::Exception(IO::ErrNotOpen, ".", __LINE__, "the caller " + getName() + " has gone");
}

void Rfc2217Connection::close() {
    mLink.close();
    std::lock_guard<std::mutex> guard(mFlowMutex);
    mFlowResumed.notify_all();
}

Base::String Rfc2217Connection::getName() { return mLink.getTransport().getName(); }

long Rfc2217Connection::size() { return mLink.available(); }

void Rfc2217Connection::wakeUp() { mLink.wakeUp(); }

bool Rfc2217Connection::waitForData(unsigned int ms) {
    return mLink.waitUntil([this] { return mLink.pending() > 0; }, ms, kSliceMs, [this] { pollModemLines(); });
}

long Rfc2217Connection::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    for (;;) {
        long n = mLink.take(buffer, length);
        if (n > 0) return n;
        if (!waitForData(~0u)) {
            if (mLink.hasEnded() || !mLink.isOpen()) return 0;
            IO::checkSystemError(EINTR, "receive from " + getName());
        }
    }
}

long Rfc2217Connection::write(const char* buffer, long length) {
    {
        std::unique_lock<std::mutex> guard(mFlowMutex);
        while (mbSuspended && mLink.isOpen()) mFlowResumed.wait_for(guard, std::chrono::milliseconds(kFlowSliceMs));
    }
    mLink.sendData(buffer, length);
    return length;
}

void Rfc2217Connection::answer(unsigned char command, const std::string& value) {
    mLink.sendSubnegotiation(OptionComPort, std::string(1, char(command + ServerOffset)) + value);
}

void Rfc2217Connection::onNegotiation(unsigned char verb, unsigned char option) {
    // Port control has begun: the caller learns the lines at once.
    if (verb == WILL && option == OptionComPort && mLink.options().isTheirs(OptionComPort) && !mbReported)
        reportModemLines();
}

void Rfc2217Connection::onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) {
    if (option != OptionComPort || length == 0) return;
    const std::string value(reinterpret_cast<const char*>(payload + 1), length - 1);
    const auto byte = static_cast<unsigned char>(value.empty() ? 0 : value[0]);
    switch (payload[0]) {
        case Signature:
            if (value.empty()) answer(Signature, kSignature);  // a caller's own signature needs no answer
            break;
        case SetBaudrate: {
            unsigned int asked = 0;
            for (unsigned char c : value.substr(0, 4)) asked = asked << 8 | c;
            answer(SetBaudrate, be32(speed(value.size() >= 4 ? asked : 0)));
            break;
        }
        case SetDataSize: answer(SetDataSize, std::string(1, char(dataSize(byte)))); break;
        case SetParity: answer(SetParity, std::string(1, char(parity(byte)))); break;
        case SetStopSize: answer(SetStopSize, std::string(1, char(stopSize(byte)))); break;
        case SetControl: answer(SetControl, std::string(1, char(control(byte)))); break;
        case NotifyLineState: answer(NotifyLineState, std::string(1, '\0')); break;
        case NotifyModemState: answer(NotifyModemState, std::string(1, char(modemLines() & mcModemMask))); break;
        case FlowControlSuspend:
        case FlowControlResume: {
            std::lock_guard<std::mutex> guard(mFlowMutex);
            mbSuspended = payload[0] == FlowControlSuspend;
            mFlowResumed.notify_all();
            break;
        }
        case SetLineStateMask:
            mcLineMask = byte;
            answer(SetLineStateMask, std::string(1, char(byte)));
            break;
        case SetModemStateMask:
            mcModemMask = byte;
            answer(SetModemStateMask, std::string(1, char(byte)));
            break;
        case PurgeData:
            if (byte >= 1 && byte <= 3) change([&](IO::SerialDevice& port) { port.purge(byte != 2, byte != 1); });
            answer(PurgeData, std::string(1, char(byte)));
            break;
        default: break;  // not a command of RFC 2217: no answer
    }
}

// Each setting: 0 asks; another value is set on the port, or kept by the
// connection when there is no port; the answer is what holds afterwards (a
// port that refuses a value answers with the one it kept).
bool Rfc2217Connection::hasPort() {
    return mpAccess->run([](IO::SerialDevice&) {});
}

// A change is made on the open port: a port that is closed now (its relay has not
// opened it yet, or waits to open it again) is opened first, so that the answer is
// what the port takes, not what it might refuse at its next open.
bool Rfc2217Connection::change(const std::function<void(IO::SerialDevice&)>& f) {
    return mpAccess->run([&f](IO::SerialDevice& port) {
        port.open();
        f(port);
    });
}

unsigned int Rfc2217Connection::speed(unsigned int asked) {
    if (asked != 0 && !change([&](IO::SerialDevice& port) { port.setBitRate(asked); }) && !hasPort())
        mSettings.bitRate = asked;
    mpAccess->run([&](IO::SerialDevice& port) {
        if (port.getBitRate() != 0) mSettings.bitRate = port.getBitRate();
    });
    return mSettings.bitRate;
}

void Rfc2217Connection::setFormat(const IO::SerialPort::Format& format) {
    if (!change([&](IO::SerialDevice& port) { port.setFormat(format); }) && !hasPort()) mSettings.format = format;
    mpAccess->run([&](IO::SerialDevice& port) { mSettings.format = port.getFormat(); });
}

unsigned char Rfc2217Connection::dataSize(unsigned char asked) {
    IO::SerialPort::Format format = mSettings.format;
    format.dataBits = asked;
    if (asked >= 5 && asked <= 8) setFormat(format);
    return static_cast<unsigned char>(mSettings.format.dataBits);
}

// RFC 2217 numbers parity from 1 (none, odd, even, mark, space), one more than IO::SerialPort.
unsigned char Rfc2217Connection::parity(unsigned char asked) {
    IO::SerialPort::Format format = mSettings.format;
    format.parity = static_cast<IO::SerialPort::EParity>(asked - 1);
    if (asked >= 1 && asked <= 5) setFormat(format);
    return static_cast<unsigned char>(mSettings.format.parity + 1);
}

// RFC 2217's stop sizes: 1 one, 2 two, 3 one and a half.
unsigned char Rfc2217Connection::stopSize(unsigned char asked) {
    static const IO::SerialPort::EStopBits stops[] = {IO::SerialPort::StopOne, IO::SerialPort::StopOne,
                                                      IO::SerialPort::StopTwo, IO::SerialPort::StopOneAndHalf};
    static const unsigned char codes[] = {1, 3, 2};
    IO::SerialPort::Format format = mSettings.format;
    format.stopBits = stops[asked <= 3 ? asked : 0];
    if (asked >= 1 && asked <= 3) setFormat(format);
    return codes[mSettings.format.stopBits];
}

unsigned char Rfc2217Connection::flowControl(unsigned char asked) {
    static const IO::SerialDevice::EFlowControl flows[] = {IO::SerialDevice::FlowNone, IO::SerialDevice::FlowSoftware,
                                                           IO::SerialDevice::FlowHardware};
    static const unsigned char codes[] = {ControlFlowNone, ControlFlowHardware, ControlFlowXonXoff};
    if (asked >= ControlFlowNone && asked <= ControlFlowHardware) {
        const IO::SerialDevice::EFlowControl flow = flows[asked - ControlFlowNone];
        if (!change([&](IO::SerialDevice& port) { port.setFlowControl(flow); }) && !hasPort()) mSettings.flow = asked;
    }
    mpAccess->run([&](IO::SerialDevice& port) { mSettings.flow = codes[port.getFlowControl()]; });
    return mSettings.flow;
}

// SET-CONTROL: flow control (outbound, and inbound, which is the same setting
// here), break, DTR and RTS; the answer is the state afterwards.
unsigned char Rfc2217Connection::control(unsigned char asked) {
    if (asked <= ControlFlowHardware) return flowControl(asked);
    if (asked >= ControlAskInboundFlow && asked <= ControlInboundHardware) {
        const unsigned char outbound =
            asked == ControlAskInboundFlow ? 0 : asked - ControlInboundNone + ControlFlowNone;
        return static_cast<unsigned char>(flowControl(outbound) - ControlFlowNone + ControlInboundNone);
    }
    struct Line {
        unsigned char ask, on, off;
        bool Settings::*state;
        bool (*set)(IO::SerialDevice&, bool);  // false: the port cannot do it
    };
    static const Line lines[] = {
        {ControlAskBreak, ControlBreakOn, ControlBreakOff, &Settings::brk,
         [](IO::SerialDevice& port, bool on) { return port.setBreak(on); }},
        {ControlAskDtr, ControlDtrOn, ControlDtrOff, &Settings::dtr,
         [](IO::SerialDevice& port, bool on) { return port.toggleDTR(on), true; }},
        {ControlAskRts, ControlRtsOn, ControlRtsOff, &Settings::rts,
         [](IO::SerialDevice& port, bool on) { return port.setRTS(on), true; }},
    };
    for (const Line& line : lines) {
        if (asked != line.ask && asked != line.on && asked != line.off) continue;
        const bool on = asked == line.on;
        bool taken = false;
        if (asked != line.ask &&
            (change([&](IO::SerialDevice& port) { taken = line.set(port, on); }) ? taken : !hasPort()))
            mSettings.*line.state = on;
        return mSettings.*line.state ? line.on : line.off;
    }
    return flowControl(ControlAskFlow);  // DCD, DTR and DSR flow control are not offered
}

unsigned char Rfc2217Connection::modemLines() {
    unsigned char state = 0;
    mpAccess->run([&](IO::SerialDevice& port) {
        if (port.readDCD()) state |= ModemCd;
        if (port.readRI()) state |= ModemRi;
        if (port.readDSR()) state |= ModemDsr;
        if (port.readCTS()) state |= ModemCts;
    });
    return state;
}

void Rfc2217Connection::reportModemLines() {
    const unsigned char lines = modemLines();
    const unsigned char changed = (lines ^ mcReported) & 0xF0;
    const bool first = !mbReported;
    if (!first && !(changed & mcModemMask)) return;
    unsigned char deltas = 0;
    if (changed & ModemCts) deltas |= ModemCtsDelta;
    if (changed & ModemDsr) deltas |= ModemDsrDelta;
    if ((changed & ModemRi) && !(lines & ModemRi)) deltas |= ModemRiTrailingEdge;
    if (changed & ModemCd) deltas |= ModemCdDelta;
    mbReported = true;
    mcReported = lines;
    answer(NotifyModemState, std::string(1, char((lines | (first ? 0 : deltas)) & mcModemMask)));
}

void Rfc2217Connection::pollModemLines() {
    if (mLastPoll.getElapsed() < kPollMs) return;
    mLastPoll.start();
    bool control = false;
    {
        auto guard = mLink.lock();
        control = mLink.options().isTheirs(OptionComPort);
    }
    if (control && mcModemMask != 0) reportModemLines();
}

}  // namespace Net
