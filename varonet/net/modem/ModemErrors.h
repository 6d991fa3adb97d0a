#pragma once
// Error codes and log identifiers of the dial-up modems.

namespace Net {

enum ModemError : unsigned int {
    ErrModemNotOpenAfterDial = 1048,       ///< 0x418: the dial succeeded but no connection stood 1000 ms later
    ErrModemNoReply = 1549,                ///< 0x60D: the modem did not answer in time
    ErrModemBusy = 1552,                   ///< 0x610: a result line said "BUSY"
    ErrModemNotConnected = 1553,           ///< 0x611: a read or wait while no connection stands
    ErrModemDialFailed = 1555,             ///< 0x613: a dial was answered with an error or an unknown reply
    ErrModemNoDialtone = 1556,             ///< 0x614: a result line said "NO DIALTONE"
    ErrModemNoCarrier = 1559,              ///< 0x617: a dial was answered "NO CARRIER"
    ErrModemNoNetworkConfirmation = 1560,  ///< 0x618: the packet network did not confirm the user data
    ErrModemBlacklisted = 1568,            ///< 0x620: a result line said "BLACKLISTED"
};

/// Message identifiers and the level of the modem dialogue in the caller's Log::Logger.
enum ModemLog : unsigned int {
    LogModemSent = 5120,      ///< 0x1400: a command line (or "+++", or user data) about to be written
    LogModemReceived = 5121,  ///< 0x1401: a result line or text received
    LogModemHangup = 768,     ///< 0x300: a hang-up of an open connection begins
};
constexpr int ModemLogLevel = 24;

}  // namespace Net
