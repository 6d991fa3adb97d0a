#pragma once
// Error codes raised by the base layer itself. They sit apart from the codes
// of the locator, modem, socket, T=1 and ZMODEM subsystems.

namespace Base {

enum BaseError : unsigned int {
    ErrShortRead = 4096,    ///< the stream ended before a fixed-size value was read
    ErrNotOpen = 4097,      ///< an operation that needs an open device
    ErrBadArgument = 4098,  ///< a value out of its range (baud rate, port number, ...)
    ErrNoSuchPort = 4099,   ///< a serial port name that maps to nothing openable
    ErrTimeout = 4100,      ///< the code of every Base::TimeoutException
    ErrPortInUse = 4101,    ///< a serial port that another user holds open
};

}  // namespace Base

namespace IO {
using Base::ErrBadArgument;
using Base::ErrNoSuchPort;
using Base::ErrNotOpen;
using Base::ErrPortInUse;
using Base::ErrShortRead;
using Base::ErrTimeout;
}  // namespace IO
