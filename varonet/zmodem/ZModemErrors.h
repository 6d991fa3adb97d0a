#pragma once
// Return codes of the ZMODEM sessions and the ZMODEM device's exception code.
//
// The sessions never throw for protocol or file trouble: every public session
// call returns 0 on success or one of these codes. Inside the decoders two
// further values travel (ResultSpecial and ResultFrameEnd + the frame-end
// character); they never leave a public call.
namespace ZModem {

struct ZModemErrors {
    static constexpr int Ok = 0;
    static constexpr int ErrFile = -1;              ///< file cannot be opened / file layer failure; bad header format
    static constexpr int ErrHexCrc = 0x20000004;    ///< hex header CRC-16 mismatch
    static constexpr int ErrBinCrc = 0x20000006;    ///< binary header or data subpacket CRC-32 mismatch
    static constexpr int ErrNoData = 0x20000007;    ///< no usable data from the sender
    static constexpr int ErrHexDigit = 0x20000008;  ///< a hex header character is not a lowercase hex digit
    static constexpr int ErrLinkTimeout =
        0x20000009;  ///< no character in time, or no valid header found (not the base library's ErrTimeout 4100)
    static constexpr int ErrCancelled = 0x2000000A;          ///< the peer sent ZCAN
    static constexpr int ErrAborted = 0x2000000B;            ///< aborted by Terminate
    static constexpr int ErrNoReceiver = 0x2000000C;         ///< file send did not start: no ZRINIT
    static constexpr int ErrReceiverFileError = 0x2000000D;  ///< the receiver answered ZFERR
    static constexpr int ErrProtocol = 0x2000000E;           ///< bad escape, cancel sequence, or retries exhausted
    static constexpr int ErrNoRz = 0x2000000F;               ///< the expected "rz\r" was not seen
    static constexpr int ErrHeaderWrite = 0x20000010;        ///< writing a header failed
    static constexpr int ErrDataWrite = 0x20000011;          ///< writing a data subpacket failed
    static constexpr int ErrFileTooLarge = 0x20000012;       ///< a file of 2 GiB or more: refused before it is offered

    /// Code of the Base::Exception thrown by ZModemDevice::write when the session fails.
    static constexpr unsigned int ErrDeviceSession = 1571;

    /// getNextDLECh: a frame end or a cancel sequence (the current character tells which).
    static constexpr int ResultSpecial = 256;
    /// getData: ResultFrameEnd + the frame-end character (0x168 ZCRCE .. 0x16B ZCRCW).
    static constexpr int ResultFrameEnd = 0x100;
};

}  // namespace ZModem
