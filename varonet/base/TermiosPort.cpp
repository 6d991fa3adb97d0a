// Unix bodies for termios serial ports.
#include <varonet/base/detail/TermiosPort.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>

namespace IO {

bool setTermiosCustomSpeed(int fd, unsigned int bitsPerSecond);  // SerialSpeed.cpp

namespace {
speed_t speedConstant(unsigned int bps) {
    switch (bps) {
        case 110: return B110;
        case 300: return B300;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return B0;
    }
}
}  // namespace

int TermiosPort::handle() {
    if (!mFile.isOpen()) throw Exception(ErrNotOpen, ".", __LINE__, "serial port not open: " + msPath);
    return mFile.getHandle();
}

[[noreturn]] void TermiosPort::throwInUse(int line) {
    throw Exception(ErrPortInUse, ".", line, "serial port in use: " + msPath);
}

void TermiosPort::open() {
    if (mFile.isOpen()) return;
    try {
        mFile.openPath(msPath, O_RDWR | O_NOCTTY | O_NONBLOCK);
    } catch (const SystemException& e) {
        if (e.getErrorCode() == EBUSY) throwInUse(__LINE__);  // held with TIOCEXCL by another process
        throw;
    }
    int fd = mFile.getHandle();
    // The advisory lock is how serial tools on Linux keep off each other's
    // ports; it is taken before TIOCEXCL so that a refused open leaves the
    // holder's port as it was.
    if (::flock(fd, LOCK_EX | LOCK_NB) < 0) {
        int error = errno;
        mFile.close();
        if (error == EWOULDBLOCK) throwInUse(__LINE__);
        checkSystemError(error, "flock " + msPath);
    }
    ::ioctl(fd, TIOCEXCL);  // refuses further opens (root is not refused, the lock above still is)
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) {
        int error = errno;
        close();
        checkSystemError(error, "tcgetattr " + msPath);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) < 0) {
        int error = errno;
        close();
        checkSystemError(error, "tcsetattr " + msPath);
    }
    miModemLines = -1;
}

void TermiosPort::close() {
    // Another holder of the same terminal (a pty's master side) keeps it
    // alive, so the exclusive mark is taken off rather than left behind.
    if (mFile.isOpen()) ::ioctl(mFile.getHandle(), TIOCNXCL);
    mFile.close();
}

long TermiosPort::readAvailable(char* buffer, long length) {
    try {
        return mFile.read(buffer, length);
    } catch (const WouldBlockException&) {
        return 0;
    } catch (const SystemException& e) {
        // A pty whose other side has gone reports EIO: nothing more will come.
        if (e.getErrorCode() == EIO) return 0;
        throw;
    }
}

long TermiosPort::write(const char* buffer, long length) { return mFile.write(buffer, length); }

bool TermiosPort::waitReadable(unsigned int ms) {
    handle();
    return mFile.waitReadable(ms);
}

long TermiosPort::available() {
    handle();
    return mFile.available();
}

void TermiosPort::setSpeed(unsigned int bitsPerSecond) {
    speed_t speed = speedConstant(bitsPerSecond);
    if (speed == B0) throw Exception(ErrBadArgument, ".", __LINE__, "unsupported baud rate");
    int fd = handle();
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) throwLastSystemError("tcgetattr " + msPath);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) < 0) throwLastSystemError("tcsetattr " + msPath);
}

bool TermiosPort::setCustomSpeed(unsigned int bitsPerSecond) {
    return bitsPerSecond > 0 && setTermiosCustomSpeed(handle(), bitsPerSecond);
}

void TermiosPort::setFlow(EFlow flow) {
    int fd = handle();
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) throwLastSystemError("tcgetattr " + msPath);
    tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (flow == FlowHardware) tio.c_cflag |= CRTSCTS;
    if (flow == FlowSoftware) {
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = 0x11;
        tio.c_cc[VSTOP] = 0x13;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) < 0) throwLastSystemError("tcsetattr " + msPath);
}

bool TermiosPort::hasModemLines() {
    if (miModemLines < 0) {
        int bits = 0;
        miModemLines = ::ioctl(handle(), TIOCMGET, &bits) == 0 ? 1 : 0;
    }
    return miModemLines == 1;
}

void TermiosPort::setLine(ELine line, bool on) {
    if (!hasModemLines()) return;
    int bit = line == LineDTR ? TIOCM_DTR : (line == LineRTS ? TIOCM_RTS : 0);
    if (bit == 0) return;
    if (::ioctl(handle(), on ? TIOCMBIS : TIOCMBIC, &bit) < 0) throwLastSystemError("modem lines " + msPath);
}

unsigned int TermiosPort::getLines() {
    if (!hasModemLines()) return 0;
    int bits = 0;
    if (::ioctl(handle(), TIOCMGET, &bits) < 0) throwLastSystemError("modem lines " + msPath);
    unsigned int out = 0;
    if (bits & TIOCM_CAR) out |= LineDCD;
    if (bits & TIOCM_DSR) out |= LineDSR;
    if (bits & TIOCM_CTS) out |= LineCTS;
    if (bits & TIOCM_RNG) out |= LineRI;
    if (bits & TIOCM_DTR) out |= LineDTR;
    if (bits & TIOCM_RTS) out |= LineRTS;
    return out;
}

bool TermiosPort::setBreak(bool on) {
    // A pseudo-terminal (the port without modem lines) takes the request and sends nothing.
    if (!hasModemLines()) return false;
    if (::ioctl(handle(), on ? TIOCSBRK : TIOCCBRK) == 0) return true;
    if (errno == EINVAL || errno == ENOTTY) return false;  // a driver without breaks
    throwLastSystemError("break " + msPath);
}

void TermiosPort::discard() { ::tcflush(handle(), TCIOFLUSH); }

void TermiosPort::purge(bool input, bool output) {
    if (input || output) ::tcflush(handle(), input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH));
}

bool TermiosPort::setFormat(const Format& format) {
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (format.dataBits < 5 || format.dataBits > 8) return false;
    if (format.stopBits == StopOneAndHalf && format.dataBits != 5) return false;
    int fd = handle();
    termios before{};
    if (::tcgetattr(fd, &before) < 0) throwLastSystemError("tcgetattr " + msPath);
    termios tio = before;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    tio.c_cflag |= kSizes[format.dataBits - 5];
    if (format.parity != ParityNone) tio.c_cflag |= PARENB;
    if (format.parity == ParityOdd || format.parity == ParityMark) tio.c_cflag |= PARODD;
    if (format.parity == ParityMark || format.parity == ParitySpace) tio.c_cflag |= CMSPAR;
    if (format.stopBits != StopOne) tio.c_cflag |= CSTOPB;  // with 5 data bits the UART makes it 1.5
    const tcflag_t wanted = tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    if (::tcsetattr(fd, TCSANOW, &tio) < 0) throwLastSystemError("tcsetattr " + msPath);
    // tcsetattr succeeds when any part was taken: what the driver keeps is the answer, and a
    // format taken in part is undone.
    if (::tcgetattr(fd, &tio) < 0) throwLastSystemError("tcgetattr " + msPath);
    if ((tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)) == wanted) return true;
    ::tcsetattr(fd, TCSANOW, &before);
    return false;
}

void TermiosPort::drain() { ::tcdrain(handle()); }

}  // namespace IO
