// Serial ports: port names to device paths (aliases, port makers, COMn), opening, settings and modem lines.
#include <varonet/base/SerialDevice.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/base/detail/TermiosPort.h>

namespace IO {

namespace {
struct AliasTable {
    std::mutex mutex;
    std::map<Base::String, Base::String> paths;
    std::map<Base::String, SerialDevice::PortMaker> makers;
};

AliasTable& aliases() {
    static AliasTable table;
    return table;
}

Base::String lookupAlias(const Base::String& name) {
    AliasTable& t = aliases();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.paths.find(name);
    return it == t.paths.end() ? Base::String() : it->second;
}

// A new port from the maker registered under name, or null when none is.
std::unique_ptr<SerialPort> makeRegisteredPort(const Base::String& name) {
    SerialDevice::PortMaker maker;
    {
        AliasTable& t = aliases();
        std::lock_guard<std::mutex> guard(t.mutex);
        auto it = t.makers.find(name);
        if (it == t.makers.end()) return nullptr;
        maker = it->second;
    }
    return maker();
}

bool hasPortMaker(const Base::String& name) {
    AliasTable& t = aliases();
    std::lock_guard<std::mutex> guard(t.mutex);
    return t.makers.count(name) > 0;
}

constexpr unsigned int kRates[] = {110,   300,   1200,   2400,   4800,   9600,  19200,
                                   38400, 57600, 115200, 230400, 460800, 921600};
}  // namespace

SerialDevice::SerialDevice(unsigned int portNumber, EBaudRate baudrate)
    : msName("COM" + Base::String::fromInteger(portNumber)), muPortNumber(portNumber), meBaudrate(baudrate),
      muBitRate(toBitsPerSecond(baudrate)) {}

SerialDevice::SerialDevice(const Base::String& portName, EBaudRate baudrate)
    : msName(portName), meBaudrate(baudrate), muBitRate(toBitsPerSecond(baudrate)) {}

SerialDevice::SerialDevice(const Base::String& name, std::unique_ptr<SerialPort> port)
    : msName(name), meBaudrate(Baud9600), muBitRate(0), mbSpeedSet(false), mbFlowSet(false), mbOwnPort(true),
      mpPort(std::move(port)) {
    if (!mpPort) throw Exception(ErrBadArgument, ".", __LINE__, "no port for serial device " + name);
}

SerialDevice::~SerialDevice() = default;

unsigned int SerialDevice::toBitsPerSecond(EBaudRate baudrate) {
    auto index = static_cast<unsigned int>(baudrate);
    return index < std::size(kRates) ? kRates[index] : 0;
}

void SerialDevice::setPortAlias(const Base::String& name, const Base::String& path) {
    AliasTable& t = aliases();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.paths[name] = path;
}

void SerialDevice::removePortAlias(const Base::String& name) {
    AliasTable& t = aliases();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.paths.erase(name);
}

void SerialDevice::setPortMaker(const Base::String& name, PortMaker maker) {
    AliasTable& t = aliases();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.makers[name] = std::move(maker);
}

void SerialDevice::removePortMaker(const Base::String& name) {
    AliasTable& t = aliases();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.makers.erase(name);
}

Base::String SerialDevice::mapPortName(const Base::String& name) {
    Base::String alias = lookupAlias(name);
    if (!alias.isNull()) return alias;
    if (name.length() > 3 && name.left(3).toUpper() == "COM" && name.substring(3).isNumeric()) {
        unsigned int n = name.substring(3).asUnsigned();
        if (n >= 1) return "/dev/ttyS" + Base::String::fromInteger(n - 1);
    }
    if (name.find('/') >= 0) return name;
    return "/dev/" + name;
}

bool SerialDevice::isDevicePath(const Base::String& text) { return text.startsWith("/"); }

Base::String SerialDevice::getPath() const {
    if (muPortNumber != 0) {
        Base::String alias = lookupAlias(Base::String::fromInteger(muPortNumber));
        if (!alias.isNull()) return alias;
    }
    Base::String alias = lookupAlias(msName);
    if (!alias.isNull()) return alias;
    if (hasPortMaker(msName)) return msName;
    return mapPortName(msName);
}

bool SerialDevice::isOpen() { return mpPort && mpPort->isOpen(); }

void SerialDevice::open() {
    if (isOpen()) return;
    if (mbOwnPort) {
        mpPort->open();
        try {
            if (mbSpeedSet) applySpeed();
            if (mbFormatSet) applyFormat(mFormat);
            if (mbFlowSet) mpPort->setFlow(static_cast<SerialPort::EFlow>(meFlow));
            mpPort->setLine(SerialPort::LineDTR, true);
            mpPort->setLine(SerialPort::LineRTS, true);
        } catch (...) {
            mpPort->close();
            throw;
        }
        return;
    }
    if (msName.isEmpty() || msName.find('\0') >= 0)
        throw Exception(ErrNoSuchPort, ".", __LINE__, "no such serial port: " + msName);
    Base::String path = getPath();
    std::unique_ptr<SerialPort> port = makeRegisteredPort(path);
    if (!port) {
        if (path == "/dev/" || path.isEmpty())
            throw Exception(ErrNoSuchPort, ".", __LINE__, "no such serial port: " + msName);
        port = std::make_unique<TermiosPort>(path);
    }
    port->open();
    mpPort = std::move(port);
    try {
        applySpeed();
        if (mbFormatSet) applyFormat(mFormat);
        mpPort->setFlow(static_cast<SerialPort::EFlow>(meFlow));
        mpPort->setLine(SerialPort::LineDTR, true);
        mpPort->setLine(SerialPort::LineRTS, true);
    } catch (...) {
        mpPort.reset();
        throw;
    }
}

void SerialDevice::close() {
    if (mpPort) mpPort->close();
    if (!mbOwnPort) mpPort.reset();
}

SerialPort& SerialDevice::port() {
    if (!isOpen()) throw Exception(ErrNotOpen, ".", __LINE__, "serial port not open: " + msName);
    return *mpPort;
}

void SerialDevice::applySpeed() { applyBitRate(muBitRate); }

void SerialDevice::applyBitRate(unsigned int bitsPerSecond) {
    if (bitsPerSecond == 0) throw Exception(ErrBadArgument, ".", __LINE__, "bad baud rate value");
    if (std::find(std::begin(kRates), std::end(kRates), bitsPerSecond) != std::end(kRates))
        port().setSpeed(bitsPerSecond);
    else if (!port().setCustomSpeed(bitsPerSecond))
        throw Exception(ErrBadArgument, ".", __LINE__,
                        msName + " does not take " + Base::String::fromUnsigned(bitsPerSecond) + " bit/s");
}

void SerialDevice::setBitRate(unsigned int bitsPerSecond) {
    if (isOpen()) applyBitRate(bitsPerSecond);
    muBitRate = bitsPerSecond;
    mbSpeedSet = true;
    const auto* rate = std::find(std::begin(kRates), std::end(kRates), bitsPerSecond);
    if (rate != std::end(kRates)) meBaudrate = static_cast<EBaudRate>(rate - std::begin(kRates));
}

void SerialDevice::applyFormat(const SerialPort::Format& format) {
    if (!port().setFormat(format))
        throw Exception(ErrBadArgument, ".", __LINE__,
                        msName + " does not take " + Base::String::fromUnsigned(format.dataBits) + " data bits" +
                            (format.parity != SerialPort::ParityNone ? " with parity" : "") +
                            (format.stopBits != SerialPort::StopOne ? " and that many stop bits" : ""));
}

void SerialDevice::setFormat(const SerialPort::Format& format) {
    if (format.dataBits < 5 || format.dataBits > 8 || format.parity > SerialPort::ParitySpace ||
        format.stopBits > SerialPort::StopTwo)
        throw Exception(ErrBadArgument, ".", __LINE__, "bad character format for " + msName);
    if (isOpen()) applyFormat(format);
    mFormat = format;
    mbFormatSet = true;
}

void SerialDevice::setDataBits(unsigned int bits) {
    SerialPort::Format format = mFormat;
    format.dataBits = bits;
    setFormat(format);
}

void SerialDevice::setParity(SerialPort::EParity parity) {
    SerialPort::Format format = mFormat;
    format.parity = parity;
    setFormat(format);
}

void SerialDevice::setStopBits(SerialPort::EStopBits stopBits) {
    SerialPort::Format format = mFormat;
    format.stopBits = stopBits;
    setFormat(format);
}

void SerialDevice::wakeUp() {
    // Only a port of the application's own can be woken, and it stays for the device's life:
    // a port found by name is made and dropped by open and close, maybe on another thread.
    if (mbOwnPort) mpPort->wakeUp();
}

bool SerialDevice::setBreak(bool on) { return port().setBreak(on); }

void SerialDevice::purge(bool input, bool output) { port().purge(input, output); }

bool SerialDevice::sendBreak(unsigned int ms) {
    SerialPort& p = port();
    if (!p.setBreak(true)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    p.setBreak(false);
    return true;
}

long SerialDevice::size() { return port().available(); }

bool SerialDevice::waitForData(unsigned int ms) { return port().waitReadable(ms); }

long SerialDevice::readInternal(char* buffer, long length) {
    if (length <= 0) return 0;
    SerialPort& p = port();
    for (;;) {
        long n = p.readAvailable(buffer, length);
        if (n > 0) return n;
        if (!mbBlocking) checkSystemError(EAGAIN, "read " + msName);
        if (!p.waitReadable(~0u)) return 0;  // closed underneath
        if (p.available() == 0) {
            // Readable without bytes: a hang-up on the far side of a pty.
            n = p.readAvailable(buffer, length);
            return n;
        }
    }
}

long SerialDevice::write(const char* buffer, long length) {
    if (length <= 0) return 0;
    return port().write(buffer, length);
}

void SerialDevice::flush() {
    if (isOpen()) mpPort->drain();
}

void SerialDevice::setBaudrate(EBaudRate baudrate) {
    if (toBitsPerSecond(baudrate) == 0) throw Exception(ErrBadArgument, ".", __LINE__, "bad baud rate value");
    meBaudrate = baudrate;
    muBitRate = toBitsPerSecond(baudrate);
    mbSpeedSet = true;
    if (isOpen()) applySpeed();
}

void SerialDevice::setFlowControl(EFlowControl flow) {
    meFlow = flow;
    mbFlowSet = true;
    if (isOpen()) mpPort->setFlow(static_cast<SerialPort::EFlow>(flow));
}

bool SerialDevice::hasModemLines() { return port().hasModemLines(); }
void SerialDevice::toggleDTR(bool on) { port().setLine(SerialPort::LineDTR, on); }
void SerialDevice::setRTS(bool on) { port().setLine(SerialPort::LineRTS, on); }
bool SerialDevice::readLine(SerialPort::ELine line) { return (port().getLines() & line) != 0; }
bool SerialDevice::readDCD() { return readLine(SerialPort::LineDCD); }
bool SerialDevice::readDSR() { return readLine(SerialPort::LineDSR); }
bool SerialDevice::readCTS() { return readLine(SerialPort::LineCTS); }
bool SerialDevice::readRI() { return readLine(SerialPort::LineRI); }

void SerialDevice::resetLines() {
    SerialPort& p = port();
    p.discard();
    p.setLine(SerialPort::LineRTS, true);
}

}  // namespace IO
