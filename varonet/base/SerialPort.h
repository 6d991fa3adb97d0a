#pragma once
// IO::SerialPort: what a serial device needs from the port under it. Two
// kinds exist: a termios port on a /dev/tty* path and one end of an
// in-process virtual null-modem pair.

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace IO {

class VARONET_API SerialPort {
public:
    enum EFlow { FlowNone = 0, FlowHardware = 1, FlowSoftware = 2 };
    enum ELine { LineDCD = 1, LineDSR = 2, LineCTS = 4, LineRI = 8, LineDTR = 16, LineRTS = 32 };
    enum EParity { ParityNone = 0, ParityOdd = 1, ParityEven = 2, ParityMark = 3, ParitySpace = 4 };
    enum EStopBits { StopOne = 0, StopOneAndHalf = 1, StopTwo = 2 };
    /// The character format on the line: 8N1 unless set otherwise.
    struct Format {
        unsigned int dataBits = 8;  ///< 5 to 8
        EParity parity = ParityNone;
        EStopBits stopBits = StopOne;
        bool operator==(const Format&) const = default;
    };

    virtual ~SerialPort() = default;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    /// Takes what is there, at most length bytes; 0 when nothing is.
    virtual long readAvailable(char* buffer, long length) = 0;
    /// Writes all bytes (waiting for room as needed).
    virtual long write(const char* buffer, long length) = 0;
    /// Waits up to ms for input; 0 only looks; ~0u waits without limit.
    virtual bool waitReadable(unsigned int ms) = 0;
    virtual long available() = 0;
    /// Speed in bits per second (one of the standard rates).
    virtual void setSpeed(unsigned int bitsPerSecond) = 0;
    /// A speed that is not a standard rate; false when the port cannot do it.
    virtual bool setCustomSpeed(unsigned int bitsPerSecond) = 0;
    virtual void setFlow(EFlow flow) = 0;
    /// False when the port has no modem-control lines (a pty).
    virtual bool hasModemLines() = 0;
    virtual void setLine(ELine line, bool on) = 0;
    /// The ELine bits that are on.
    virtual unsigned int getLines() = 0;
    /// Holds the line in the break state (on) or ends it; false when the port cannot send a break.
    virtual bool setBreak(bool on) = 0;
    /// Drops what is queued in both directions.
    virtual void discard() = 0;
    /// Drops what is queued in one or both directions (received: input; not yet
    /// sent: output). A port without the distinction drops both.
    virtual void purge(bool input, bool output) {
        if (input || output) discard();
    }
    /// Sets the character format; false when the port cannot take it (a pseudo-
    /// terminal is always 8 bits without parity). A port without a format of
    /// its own accepts every one.
    virtual bool setFormat(const Format& format) {
        (void)format;
        return true;
    }
    /// Waits until everything written has left.
    virtual void drain() = 0;
    /// Ends a wait (waitReadable, or an open that connects somewhere) that
    /// another thread is in, now or at its next start. Ports whose waits end
    /// with their data ignore it.
    virtual void wakeUp() {}
};

}  // namespace IO
