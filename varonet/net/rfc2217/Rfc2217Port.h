#pragma once
// Net::Rfc2217Port: a serial port at the far end of a network connection,
// driven with the Telnet Com Port Control option (RFC 2217). Put under an
// IO::SerialDevice, it behaves to its user as a local port does: speed,
// format and flow control are sent at open and whenever they change, DTR,
// RTS and break are set remotely, the modem lines are those the server last
// reported, and data passes unchanged both ways (255 is escaped on the wire).
//
//   client                              server
//     IAC WILL COM-PORT ------------------>
//     <------------------ IAC DO COM-PORT
//     SB SET-BAUDRATE 115200 ------------->
//     <------------------ SB SET-BAUDRATE(+100) 115200    the rate now in use
//     <------------------ SB NOTIFY-MODEMSTATE CD|DSR     whenever a line changes
//
// A server that refuses port control, or refuses or never answers a setting,
// is told in the log (message id LogId) and the port carries on as it is, as
// RFC 2217 clients do; the setting reports success.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/Logger.h>
#include <varonet/base/SerialPort.h>

namespace Net {

class TelnetLink;

class VARONET_API Rfc2217Port : public IO::SerialPort {
public:
    /// The logger's message id of every report (a refused or unanswered setting, ...).
    static constexpr unsigned int LogId = 5124;

    /// Over transport (owned, opened by open: a Net::TcpDevice); logger may be
    /// null. replyTimeoutMs bounds each wait for the server's answer to a
    /// setting, and the wait for port control at open.
    Rfc2217Port(std::unique_ptr<IO::Device> transport, Log::Logger* logger, unsigned int replyTimeoutMs = 1000);
    Rfc2217Port(const Rfc2217Port&) = delete;
    Rfc2217Port& operator=(const Rfc2217Port&) = delete;
    ~Rfc2217Port() override;

    /// Connects and asks for binary data both ways and for port control,
    /// waiting at most the reply time-out for the answer.
    void open() override;
    void close() override;
    bool isOpen() const override;
    long readAvailable(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    /// True when data came, or when the connection has ended (then nothing more comes).
    bool waitReadable(unsigned int ms) override;
    long available() override;
    void setSpeed(unsigned int bitsPerSecond) override;
    /// Any rate: false when the server answers with another one.
    bool setCustomSpeed(unsigned int bitsPerSecond) override;
    void setFlow(EFlow flow) override;
    /// False when the server answers with another format.
    bool setFormat(const Format& format) override;
    /// True once the server has agreed to port control.
    bool hasModemLines() override;
    void setLine(ELine line, bool on) override;
    /// DTR and RTS as last set, DCD, DSR, CTS and RI as the server last reported them.
    unsigned int getLines() override;
    bool setBreak(bool on) override;
    void discard() override;
    void purge(bool input, bool output) override;
    /// Nothing to wait for: written bytes are on their way to the server.
    void drain() override {}
    void wakeUp() override;

    /// The server's signature text ("" until asked and answered).
    Base::String getServerSignature();

private:
    class Control;
    std::unique_ptr<Control> mpControl;
};

}  // namespace Net
