#pragma once
// IO::SerialDevice: a serial port.
//
// Port names map to device paths in this order: the process-wide alias table
// (filled by the application), the port makers registered under a name (the
// simulator's virtual null-modem pairs register theirs), then
// COMn -> /dev/ttyS(n-1), a port number N ->
// /dev/ttyS(N-1), and any other name -> /dev/NAME (a name with "/" is taken
// as a path). Settings made while the port is closed are applied when it opens.
//
// Reads: readInternal blocks until at least one byte is there (or throws
// IO::WouldBlockException when not blocking); read with a read time-out
// collects bytes until the count or the time-out.
//
// Beside the listed baud rates, a port takes any bit rate its driver accepts
// (setBitRate), a character format (data bits, parity, stop bits) and a port
// of the application's own (a remote port, see Net::Rfc2217Port).

#include <functional>
#include <memory>

#include <varonet/base/Export.h>
#include <varonet/base/SerialPort.h>
#include <varonet/base/UnreliableDevice.h>

namespace IO {

class VARONET_API SerialDevice : public UnreliableDevice {
public:
    enum EBaudRate {
        Baud110 = 0,
        Baud300,
        Baud1200,
        Baud2400,
        Baud4800,
        Baud9600,
        Baud19200,
        Baud38400,
        Baud57600,
        Baud115200,
        Baud230400,
        Baud460800,
        Baud921600
    };
    enum EFlowControl { FlowNone = 0, FlowHardware = 1, FlowSoftware = 2 };

    SerialDevice(unsigned int portNumber, EBaudRate baudrate);
    SerialDevice(const Base::String& portName, EBaudRate baudrate);
    /// A device over port (owned, kept across close and open) instead of a
    /// port found by name; name is what getName says. Speed, format and flow
    /// control are sent to the port only once set: until then the port keeps
    /// its own (a remote port keeps what its server has).
    SerialDevice(const Base::String& name, std::unique_ptr<SerialPort> port);
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;
    ~SerialDevice() override;

    bool isOpen() override;
    /// Opens the port in raw mode with the stored settings and raises DTR and RTS.
    /// Throws IO::SystemException (errno) or IO::Exception (ErrNoSuchPort, ErrPortInUse).
    void open() override;
    /// Closes the port (DTR and RTS drop).
    void close() override;
    /// The port name ("COM1" for port number 1).
    Base::String getName() override { return msName; }

    long size() override;
    /// True while the port is closed.
    bool isEOF() override { return !isOpen(); }
    bool waitForData(unsigned int ms) override;
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using OutputDevice::write;
    /// Waits until all written bytes have left the port.
    void flush() override;
    /// Reads and writes go to one descriptor (or a virtual port's guarded wire) and never close it.
    bool isFullDuplex() override { return true; }
    /// Passed to the port (a remote port ends its wait or connect; a local one ignores it).
    void wakeUp() override;

    void setBlocking(bool blocking) { mbBlocking = blocking; }
    bool isBlocking() const { return mbBlocking; }

    virtual void setBaudrate(EBaudRate baudrate);
    EBaudRate getBaudrate() const { return meBaudrate; }
    virtual void setFlowControl(EFlowControl flow);
    EFlowControl getFlowControl() const { return meFlow; }
    /// Bits per second of a baud-rate value (0 for values out of range).
    static unsigned int toBitsPerSecond(EBaudRate baudrate);
    /// Any bit rate: a listed one also sets the baud rate (getBaudrate), another
    /// one goes to the driver as a custom speed. When open, a rate the port does
    /// not take throws IO::Exception ErrBadArgument and the rate stays as it was;
    /// when closed, it is tried at the next open (which then fails).
    void setBitRate(unsigned int bitsPerSecond);
    /// The rate set last (the baud rate's, unless setBitRate chose another).
    unsigned int getBitRate() const { return muBitRate; }
    /// Data bits (5 to 8), parity and stop bits. When open, a format the port
    /// cannot take throws IO::Exception ErrBadArgument and the format stays as
    /// it was; a value out of range always throws it.
    void setFormat(const SerialPort::Format& format);
    void setDataBits(unsigned int bits);
    void setParity(SerialPort::EParity parity);
    void setStopBits(SerialPort::EStopBits stopBits);
    const SerialPort::Format& getFormat() const { return mFormat; }

    /// False for a port without modem-control lines (a pty): DTR changes are
    /// then ignored and DCD, DSR, CTS and RI read as low.
    bool hasModemLines();
    void toggleDTR(bool on);
    void setRTS(bool on);
    bool readDCD();
    bool readDSR();
    bool readCTS();
    bool readRI();
    /// Drops what is queued in both directions and raises RTS.
    void resetLines();
    /// Drops what was received (input) and what is not yet sent (output).
    void purge(bool input, bool output);
    /// Holds the line in the break state (true) or ends it; false when the port cannot send a break.
    bool setBreak(bool on);
    /// Holds the line in the break state for ms, then ends it; false (at once) when
    /// the port cannot send a break (a pseudo-terminal, a virtual port). Throws
    /// IO::Exception (ErrNotOpen) when the port is closed.
    bool sendBreak(unsigned int ms);

    unsigned int getPortNumber() const { return muPortNumber; }
    /// The path (or the name of a registered port maker) the port name maps to now.
    Base::String getPath() const;

    /// Maps a port name (or the decimal text of a port number) to a path for this process.
    static void setPortAlias(const Base::String& name, const Base::String& path);
    static void removePortAlias(const Base::String& name);
    /// The path a port name maps to (alias, COMn, /dev/NAME).
    static Base::String mapPortName(const Base::String& name);

    /// Makes a new, closed port for a name served by something other than a /dev path.
    using PortMaker = std::function<std::unique_ptr<SerialPort>()>;
    /// Serves a port name (after the alias table, before any /dev path) with maker,
    /// for every process-wide open from now on; a second registration replaces the first.
    static void setPortMaker(const Base::String& name, PortMaker maker);
    static void removePortMaker(const Base::String& name);
    /// True when text is an absolute path (/dev/ttyUSB0, /dev/serial/by-id/...,
    /// /dev/pts/3): a serial locator then opens it as it stands.
    static bool isDevicePath(const Base::String& text);

protected:
    /// The open port; throws IO::Exception (ErrNotOpen) when closed.
    SerialPort& port();
    /// Applies the speed; a subclass may set a speed of its own.
    virtual void applySpeed();

private:
    bool readLine(SerialPort::ELine line);
    void applyBitRate(unsigned int bitsPerSecond);
    void applyFormat(const SerialPort::Format& format);

    Base::String msName;
    unsigned int muPortNumber = 0;
    EBaudRate meBaudrate;
    unsigned int muBitRate;
    EFlowControl meFlow = FlowNone;
    SerialPort::Format mFormat;
    // What open sends: a port found by name always gets speed and flow control
    // (and a format once one was set); a port of the application's own only
    // what was set.
    bool mbSpeedSet = true;
    bool mbFlowSet = true;
    bool mbFormatSet = false;
    bool mbBlocking = true;
    bool mbOwnPort = false;  // mpPort was given and stays across close
    std::unique_ptr<SerialPort> mpPort;
};

}  // namespace IO
