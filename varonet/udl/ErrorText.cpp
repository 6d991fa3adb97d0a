// The meaning of every code the library raises or a session returns, and of system errors and CAPI results.
#include <varonet/udl/ErrorText.h>

#include <cstring>
#include <string>

#include <varonet/base/Errors.h>
#include <varonet/net/capi/CapiErrors.h>
#include <varonet/net/modem/ModemErrors.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/t1/T1Errors.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/zmodem/ZModemErrors.h>

namespace UDL {

namespace {

struct Entry {
    long long code;
    const char* text;
};

using Z = ZModem::ZModemErrors;

constexpr Entry kTable[] = {
    // The relay (and a ZMODEM session built without a device).
    {ErrProxy, "the relay could not start: a locator that names no device, or no partner"},
    // Locator parser and resolvers, server devices.
    {ErrNoProtocol, "the locator has no protocol word (no unescaped \":\")"},
    {ErrBadLocator, "the resolver cannot use the locator"},
    {ErrPortLockTimeout, "a managed serial port stayed locked for 3000 ms"},
    {ErrNotConnected, "no caller is connected to the server device"},
    {ErrNoConnection, "the server handed out no connection"},
    {ErrNoSerialPort, "the serial server's port was handed out already"},
    // Modems and CAPI connections.
    {Net::ErrModemNotOpenAfterDial, "no connection stood after dialling"},
    {Net::ErrModemNoReply, "the modem did not answer in time"},
    {Net::ErrModemBusy, "the line is busy (BUSY)"},
    {Net::ErrModemNotConnected, "no connection stands"},
    {Net::ErrModemDialFailed, "the modem refused the dial command or gave an unknown reply"},
    {Net::ErrModemNoDialtone, "no dial tone (NO DIALTONE)"},
    {Net::ErrModemNoCarrier, "no modem answered the call (NO CARRIER)"},
    {Net::ErrModemNoNetworkConfirmation, "the packet network did not confirm the call"},
    {Net::ErrModemBlacklisted, "the modem refuses to dial this number for now (BLACKLISTED)"},
    // Sockets and local pipes.
    {Net::ErrHostNotFound, "the host name resolves to no IPv4 address"},
    {Net::ErrPipeAcceptWait, "the pipe server's wait ended without a caller"},
    {Net::ErrPipeDataWait, "waiting for data on the pipe failed"},
    {Net::ErrPipeCreate, "the pipe server cannot listen under its name (in use, or an unusable folder)"},
    {Net::ErrPipeConnectionWait, "waiting for a pipe caller failed"},
    {Net::ErrReadEventNoData, "the peer closed the connection"},
    {Net::ErrNoSocket, "the socket is not open"},
    {Net::ErrNameConversion, "the name cannot become a host name or pipe path (a NUL character, or too long)"},
    // ZMODEM device.
    {Z::ErrDeviceSession, "the ZMODEM transfer of a device write failed"},
    // T=1.
    {T1::ErrNoAddressForReceiveReady, "T=1: an R-block was due but no node address is known"},
    {T1::ErrNoAddressForResynch, "T=1: a RESYNCH was due but no node address is known"},
    {T1::ErrRecoveryExhausted, "T=1: the node did not answer in time (recovery exhausted)"},
    {T1::ErrBlockNotStored, "T=1: the node asked again for a block that is no longer stored"},
    {T1::ErrShortBlockRead, "T=1: the device returned fewer bytes than a block holds"},
    {T1::ErrShortBlockWrite, "T=1: the device took fewer bytes than the block holds"},
    {T1::ErrEDC, "T=1: a block failed its error detection code (LRC or CRC)"},
    {T1::ErrWrongNode, "T=1: a block came from another node than the chain's"},
    // The base layer.
    {Base::ErrShortRead, "the stream ended before a whole value was read"},
    {Base::ErrNotOpen, "the device is not open"},
    {Base::ErrBadArgument, "a value out of its range (baud rate, port number, chunk size)"},
    {Base::ErrNoSuchPort, "the serial port name maps to no port that exists"},
    {Base::ErrTimeout, "time-out: nothing arrived in time"},
    {Base::ErrPortInUse, "the serial port is in use (another process holds it open or locked)"},
    // Results of the ZMODEM sessions.
    {Z::ErrFile, "ZMODEM: a file could not be opened, read or written"},
    {Z::ErrHexCrc, "ZMODEM: a hex header failed its CRC-16"},
    {Z::ErrBinCrc, "ZMODEM: a binary header or data subpacket failed its CRC-32"},
    {Z::ErrNoData, "ZMODEM: no usable data came from the sender"},
    {Z::ErrHexDigit, "ZMODEM: a hex header holds a character that is not a lowercase hex digit"},
    {Z::ErrLinkTimeout, "ZMODEM: time-out, no character or no valid header came in time"},
    {Z::ErrCancelled, "ZMODEM: the peer cancelled the session"},
    {Z::ErrAborted, "ZMODEM: the session was aborted"},
    {Z::ErrNoReceiver, "ZMODEM: the receiver never answered, the file send did not start"},
    {Z::ErrReceiverFileError, "ZMODEM: the receiver could not write the file (ZFERR)"},
    {Z::ErrProtocol, "ZMODEM: protocol error (bad escape, cancel sequence, or retries exhausted)"},
    {Z::ErrNoRz, "ZMODEM: the sender's start (\"rz\\r\") never came"},
    {Z::ErrHeaderWrite, "ZMODEM: writing a header to the device failed"},
    {Z::ErrDataWrite, "ZMODEM: writing data to the device failed"},
    {Z::ErrFileTooLarge, "ZMODEM: a file of 2 GiB or more is refused"},
};

constexpr Entry kCapiTable[] = {
    {Capi::CapiOk, "success"},
    {Capi::CapiErrRegistrationRefused, "CAPI: the backend refused the registration"},
    {Capi::CapiErrBadParameters, "CAPI: logical connections, data blocks or block size out of range"},
    {Capi::CapiErrNotInstalled, "CAPI: no backend is installed in this process"},
    {Capi::CapiErrNotRegistered, "CAPI: the application is not registered"},
    {Capi::CapiErrUnknownConnection, "CAPI: the handle names no connection of this application"},
    {Capi::CapiErrNotConnected, "CAPI: the connection is down"},
    {Capi::CapiErrBadProtocol, "CAPI: the backend does not carry this protocol"},
    {Capi::CapiErrBadChannelCount, "CAPI: a data call must use exactly one B channel"},
    {Capi::CapiErrTooManyConnections, "CAPI: more connections than registered for"},
    {Capi::CapiErrNoSuchNumber, "CAPI: the number is not allocated"},
    {Capi::CapiErrBusy, "CAPI: the called party is busy"},
    {Capi::CapiErrCallRejected, "CAPI: the called party rejected the call"},
    {Capi::CapiErrNoData, "CAPI: no data is buffered"},
};

template <std::size_t N>
const char* lookUp(const Entry (&table)[N], long long code) {
    for (const Entry& entry : table)
        if (entry.code == code) return entry.text;
    return nullptr;
}

Base::String codeText(unsigned int code) {
    return "code " + Base::String::fromUnsigned(code) + " = 0x" + Base::String::fromUnsigned(code, 16).toUpper();
}

}  // namespace

Base::String ErrorText::describe(long long code) {
    // A session result of -1 read as an unsigned code (0xFFFFFFFF) is the same code.
    if (const char* text = lookUp(kTable, code)) return text;
    if (code > 0x7FFFFFFFLL && code <= 0xFFFFFFFFLL)
        if (const char* text = lookUp(kTable, static_cast<int>(static_cast<unsigned int>(code)))) return text;
    return "unknown code " + Base::String::fromInteger(code);
}

bool ErrorText::isKnown(long long code) { return !describe(code).startsWith("unknown code "); }

Base::String ErrorText::describeSystemError(int error) { return std::strerror(error); }

Base::String ErrorText::describeCapiResult(int result) {
    if (const char* text = lookUp(kCapiTable, result)) return text;
    return "unknown CAPI result 0x" + Base::String::fromUnsigned(static_cast<unsigned int>(result), 16).toUpper();
}

Base::String ErrorText::describe(const Base::Exception& exception) {
    const unsigned int code = exception.getErrorCode();
    const Base::String& own = exception.getText();
    if (exception.isSystemError()) {
        Base::String line = own.isEmpty() ? Base::String("") : own + ": ";
        return line + describeSystemError(static_cast<int>(code)) + " (errno " + Base::String::fromUnsigned(code) + ")";
    }
    Base::String meaning = describe(static_cast<long long>(code));
    // The time-out's default text adds nothing to the table's.
    if (own.isEmpty() || own == "time-out") return meaning + " (" + codeText(code) + ")";
    return own + " (" + codeText(code) + ": " + meaning + ")";
}

}  // namespace UDL
