#pragma once
// Error codes of the socket and named-pipe subsystem. System failures are not
// listed here: they travel as errno values through IO::checkSystemError.

namespace Net {

enum SocketError : unsigned int {
    ErrHostNotFound = 1537,        ///< a host name that resolves to no IPv4 address
    ErrPipeAcceptWait = 1539,      ///< a blocking pipe accept whose wait ended without a caller
    ErrPipeDataWait = 1540,        ///< waiting for data on a pipe failed
    ErrPipeCreate = 1541,          ///< a pipe server could not listen under its name
    ErrPipeConnectionWait = 1542,  ///< waiting for a pipe caller failed
    ErrReadEventNoData = 1544,     ///< a socket read event with no byte to read (the peer has closed)
    ErrNoSocket = 1547,            ///< a wait on a socket that is not open
    ErrNameConversion = 2053,      ///< a text that cannot become a system name (host or pipe path)
    ErrBadPort = 9729,             ///< a TCP port outside 1..65535 (0 only for a listener); the bad-locator code
};

}  // namespace Net
