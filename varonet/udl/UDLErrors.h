#pragma once
// Error codes of the locator parser and the resolvers.

namespace UDL {

enum UDLError : unsigned int {
    ErrProxy = 0,               ///< a proxy whose locator names no device, or that runs without a receiver
    ErrNoProtocol = 9728,       ///< 0x2600: a locator without an unescaped ":"
    ErrBadLocator = 9729,       ///< 0x2601: unknown protocol word or an option value the resolver cannot use
    ErrPortLockTimeout = 5962,  ///< 0x174A: a managed serial port was not locked within 3000 ms
    ErrNotConnected = 1028,     ///< I/O on a server device that has no caller
    ErrNoConnection = 1046,     ///< a server device's accept gave nothing
    ErrNoSerialPort = 1567,     ///< a serial server whose port was already handed out
};

}  // namespace UDL
