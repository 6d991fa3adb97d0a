#pragma once
// Error codes of the T=1 block protocol. Every one travels in a
// Base::Exception (or, for an error-detection failure, a T1::EDCException);
// ErrWrongNode is only ever logged.

namespace T1 {

enum T1Error : unsigned int {
    /// An R-block must be sent but no valid node address is known yet.
    ErrNoAddressForReceiveReady = 3840,  // F00
    /// A RESYNCH request must be sent but no valid node address is known yet.
    ErrNoAddressForResynch = 3841,  // F01
    /// A time-out after the recovery budget was spent (or with recovery off).
    ErrRecoveryExhausted = 3842,  // F02
    /// The node asked for a block that is not stored; pending input was discarded.
    ErrBlockNotStored = 3843,  // F03
    /// The device returned fewer bytes of a block than the reader asked for
    /// (apart from the base library's Base::ErrShortRead of fixed-size values).
    ErrShortBlockRead = 3844,  // F04
    /// The device accepted fewer bytes than the encoded block holds.
    ErrShortBlockWrite = 3845,  // F05
    // 3846 (F06) is not used.
    /// LRC (short form) or CRC (extended form) mismatch: carried by T1::EDCException.
    ErrEDC = 3847,  // F07
    /// A block from another node than the one of the chain (logged, not thrown).
    ErrWrongNode = 3848,  // F08
};

}  // namespace T1
