#pragma once
// IO::TermiosPort: a serial port on a tty device in raw mode.
//
// The port is opened exclusively: an advisory lock (flock) that other serial
// tools respect, and TIOCEXCL against plain opens. A port that another
// process holds either way throws IO::Exception ErrPortInUse.

#include <varonet/base/SerialPort.h>
#include <varonet/base/detail/FileInternal.h>

namespace IO {

class TermiosPort : public SerialPort {
public:
    explicit TermiosPort(const Base::String& path) : msPath(path) {}
    void open() override;
    void close() override;
    bool isOpen() const override { return mFile.isOpen(); }
    long readAvailable(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    bool waitReadable(unsigned int ms) override;
    long available() override;
    void setSpeed(unsigned int bitsPerSecond) override;
    bool setCustomSpeed(unsigned int bitsPerSecond) override;
    void setFlow(EFlow flow) override;
    bool hasModemLines() override;
    void setLine(ELine line, bool on) override;
    unsigned int getLines() override;
    bool setBreak(bool on) override;
    void discard() override;
    void purge(bool input, bool output) override;
    /// False when the driver did not take the format (a pseudo-terminal stays
    /// 8 bits without parity; 1.5 stop bits exist only with 5 data bits).
    bool setFormat(const Format& format) override;
    void drain() override;

private:
    int handle();
    [[noreturn]] void throwInUse(int line);

    Base::String msPath;
    FileInternal mFile;
    int miModemLines = -1;  // unknown until asked
};

}  // namespace IO
