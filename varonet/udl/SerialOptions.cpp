// The serial settings of serial: and rfc2217: locators.
#include <varonet/udl/detail/SerialOptions.h>

#include <map>
#include <string>

#include <varonet/udl/UDLParser.h>

namespace UDL {

namespace {
template <class T>
bool lookUp(const std::map<std::string, T>& table, const Base::String& word, std::optional<T>& out) {
    auto it = word.isNull() ? table.end() : table.find(word.str());
    if (it == table.end()) return false;
    out = it->second;
    return true;
}
}  // namespace

bool SerialOptions::read(const UDLParser& parser, Base::String& why) {
    using IO::SerialDevice;
    using IO::SerialPort;
    static const std::map<std::string, SerialDevice::EBaudRate> baudrates = {
        {"110", SerialDevice::Baud110},       {"300", SerialDevice::Baud300},
        {"1200", SerialDevice::Baud1200},     {"2400", SerialDevice::Baud2400},
        {"4800", SerialDevice::Baud4800},     {"9600", SerialDevice::Baud9600},
        {"19200", SerialDevice::Baud19200},   {"38400", SerialDevice::Baud38400},
        {"57600", SerialDevice::Baud57600},   {"57k", SerialDevice::Baud57600},
        {"115200", SerialDevice::Baud115200}, {"115k", SerialDevice::Baud115200},
        {"230400", SerialDevice::Baud230400}, {"460800", SerialDevice::Baud460800},
        {"921600", SerialDevice::Baud921600},
    };
    static const std::map<std::string, SerialDevice::EFlowControl> flows = {{"Hardware", SerialDevice::FlowHardware},
                                                                            {"Software", SerialDevice::FlowSoftware},
                                                                            {"None", SerialDevice::FlowNone}};
    static const std::map<std::string, unsigned int> dataBits = {{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}};
    static const std::map<std::string, SerialPort::EParity> parities = {{"None", SerialPort::ParityNone},
                                                                        {"Odd", SerialPort::ParityOdd},
                                                                        {"Even", SerialPort::ParityEven},
                                                                        {"Mark", SerialPort::ParityMark},
                                                                        {"Space", SerialPort::ParitySpace}};
    static const std::map<std::string, SerialPort::EStopBits> stopBits = {
        {"1", SerialPort::StopOne}, {"1.5", SerialPort::StopOneAndHalf}, {"2", SerialPort::StopTwo}};

    const Base::String baudrate = parser.getString("baudrate");
    if (!baudrate.isNull() && !lookUp(baudrates, baudrate, mBaudrate)) {
        why = "the baud rate " + baudrate + " is not one of the listed rates";
        return false;
    }
    if (parser.hasOption("BitRate")) {
        bool ok = false;
        muBitRate = parser.getString("BitRate").asUnsigned(10, &ok);
        if (!ok || muBitRate == 0) {
            why = "the bit rate " + parser.getString("BitRate") + " is not a number of bits per second";
            return false;
        }
    }
    lookUp(flows, parser.getString("FlowControl"), mFlow);  // any other value leaves the flow control alone
    const struct {
        const char* key;
        bool ok;
        const char* allowed;
    } checks[] = {
        {"DataBits", !parser.hasOption("DataBits") || lookUp(dataBits, parser.getString("DataBits"), mDataBits),
         "5, 6, 7 or 8"},
        {"Parity", !parser.hasOption("Parity") || lookUp(parities, parser.getString("Parity"), mParity),
         "None, Odd, Even, Mark or Space"},
        {"StopBits", !parser.hasOption("StopBits") || lookUp(stopBits, parser.getString("StopBits"), mStopBits),
         "1, 1.5 or 2"},
    };
    for (const auto& check : checks) {
        if (check.ok) continue;
        why = Base::String(check.key) + " is " + parser.getString(check.key) + ", not " + check.allowed;
        return false;
    }
    return true;
}

void SerialOptions::applyTo(IO::SerialDevice& port) const {
    if (mBaudrate) port.setBaudrate(*mBaudrate);
    if (muBitRate) port.setBitRate(muBitRate);
    if (mFlow) port.setFlowControl(*mFlow);
    if (!mDataBits && !mParity && !mStopBits) return;
    IO::SerialPort::Format format = port.getFormat();
    if (mDataBits) format.dataBits = *mDataBits;
    if (mParity) format.parity = *mParity;
    if (mStopBits) format.stopBits = *mStopBits;
    port.setFormat(format);
}

}  // namespace UDL
