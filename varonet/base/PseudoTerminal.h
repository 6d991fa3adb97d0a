#pragma once
// IO::PseudoTerminal: the master side of a new pseudo-terminal.
//
// The slave side is a serial port that any program on the machine can open
// by its path (serial:/dev/pts/7@115k, picocom /dev/pts/7): what the master
// writes, the slave reads, and the other way round. The terminal is set to
// raw mode at once and stays so, whoever opens the slave. A pseudo-terminal
// has no modem-control lines.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>

namespace IO {

class FileInternal;

class VARONET_API PseudoTerminal : public Device {
public:
    /// Creates the terminal; throws IO::SystemException when the system has none to give.
    PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    /// Closes both sides: a program on the slave then reads the end of the stream.
    ~PseudoTerminal() override;

    /// The slave's path, e.g. "/dev/pts/7".
    const Base::String& getSlavePath() const { return msSlavePath; }
    /// The master's descriptor (termios queries on it report the slave's settings); -1 once closed.
    int getHandle() const;

    /// Open from construction until close; a closed terminal cannot be opened again.
    bool isOpen() override;
    void open() override;
    void close() override;
    /// The slave's path.
    Base::String getName() override { return msSlavePath; }

    long size() override;
    bool isEOF() override { return !isOpen(); }
    bool waitForData(unsigned int ms) override;
    /// Takes what the slave side has written, at most length bytes; waits for the first one.
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using OutputDevice::write;

private:
    std::unique_ptr<FileInternal> mpMaster;
    std::unique_ptr<FileInternal> mpSlave;  // held open, so the master never sees the slave side vanish between users
    Base::String msSlavePath;
};

}  // namespace IO
