#pragma once
// Error codes of the locator parser and the resolvers.

namespace UDL {

enum UDLError : unsigned int {
    ErrNoProtocol = 9728,       ///< 0x2600: a locator without an unescaped ":"
    ErrBadLocator = 9729,       ///< 0x2601: unknown protocol word or an option value the resolver cannot use
    ErrPortLockTimeout = 5962,  ///< 0x174A: a managed serial port was not locked within 3000 ms
};

}  // namespace UDL
