#pragma once
// The Telnet bytes (RFC 854) and the Com Port Control option (RFC 2217) that
// the remote serial port speaks. A server answers a command with its code
// plus ServerOffset.

namespace Net::Telnet {

enum Byte : unsigned char {
    SE = 240,  ///< end of a subnegotiation
    NOP = 241,
    SB = 250,    ///< start of a subnegotiation
    WILL = 251,  ///< "I will use the option" (or "I do")
    WONT = 252,
    DO = 253,  ///< "use the option, please" (or "go on")
    DONT = 254,
    IAC = 255,  ///< "a command follows"; doubled in data
};

enum Option : unsigned char {
    OptionBinary = 0,  ///< 8-bit data, no end-of-line translation
    OptionEcho = 1,
    OptionSuppressGoAhead = 3,
    OptionComPort = 44,  ///< RFC 2217
};

/// Com Port Control commands, client to server; the server's answer is the command + ServerOffset.
enum ComPortCommand : unsigned char {
    Signature = 0,
    SetBaudrate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
    ServerOffset = 100,
};

/// Values of SetControl.
enum ControlValue : unsigned char {
    ControlAskFlow = 0,
    ControlFlowNone = 1,
    ControlFlowXonXoff = 2,
    ControlFlowHardware = 3,
    ControlAskBreak = 4,
    ControlBreakOn = 5,
    ControlBreakOff = 6,
    ControlAskDtr = 7,
    ControlDtrOn = 8,
    ControlDtrOff = 9,
    ControlAskRts = 10,
    ControlRtsOn = 11,
    ControlRtsOff = 12,
    ControlAskInboundFlow = 13,
    ControlInboundNone = 14,
    ControlInboundXonXoff = 15,
    ControlInboundHardware = 16,
};

/// Bits of a NotifyModemState value: the lines in the high nibble, their changes in the low one.
enum ModemStateBit : unsigned char {
    ModemCtsDelta = 0x01,
    ModemDsrDelta = 0x02,
    ModemRiTrailingEdge = 0x04,
    ModemCdDelta = 0x08,
    ModemCts = 0x10,
    ModemDsr = 0x20,
    ModemRi = 0x40,
    ModemCd = 0x80,
};

}  // namespace Net::Telnet
