#pragma once
// UDL::SerialOptions: the serial settings of a locator (serial:, rfc2217:).
//
//   baudrate   one of the listed rates (also written after "@" in serial:)
//   BitRate    any rate the port's driver takes (it wins over baudrate)
//   FlowControl  Hardware, Software or None
//   DataBits   5 to 8;  Parity  None, Odd, Even, Mark or Space;  StopBits  1, 1.5 or 2
//
// An unlisted FlowControl value leaves the flow control as the port has it;
// any other bad value makes the locator name no device (the reason says why).

#include <optional>

#include <varonet/base/SerialDevice.h>
#include <varonet/base/String.h>

namespace UDL {

class UDLParser;

class SerialOptions {
public:
    /// Reads the options; false, with the reason in why, for a value that cannot be used.
    bool read(const UDLParser& parser, Base::String& why);
    /// True when a baud rate or a bit rate was given.
    bool hasSpeed() const { return mBaudrate.has_value() || muBitRate != 0; }
    /// Sets on the port what was given, in this order: baud rate, bit rate, flow control, format.
    void applyTo(IO::SerialDevice& port) const;

private:
    std::optional<IO::SerialDevice::EBaudRate> mBaudrate;
    unsigned int muBitRate = 0;
    std::optional<IO::SerialDevice::EFlowControl> mFlow;
    std::optional<unsigned int> mDataBits;
    std::optional<IO::SerialPort::EParity> mParity;
    std::optional<IO::SerialPort::EStopBits> mStopBits;
};

}  // namespace UDL
