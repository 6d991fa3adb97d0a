#pragma once
// ZModem::SessionSettings: how the file sessions of a ZModem::CZModem go
// beyond their classic behaviour. Every default is the classic behaviour:
//
//   session.setSettings({.window = 1 << 20, .offer = ZModem::SessionSettings::Offer::Full,
//                        .keepTimeAndMode = true, .greetAtOnce = true});

namespace ZModem {

struct SessionSettings {
    /// What a file offer (the ZFILE subpacket) says about the file.
    enum class Offer {
        /// "name NUL size": the name and the size in decimal.
        NameAndSize,
        /// "name NUL size mtime mode 0 files-left bytes-left NUL", the time in
        /// seconds and the mode in octal, as ZMODEM receivers read it: they
        /// give the file its time and mode.
        Full
    };

    /// Sending: bytes that may be on their way ahead of the receiver's
    /// acknowledgement. 0 waits for ZACK after every 1 KiB subpacket. Above 0:
    /// a receiver that takes data while it writes and announces no buffer size
    /// (ZRINIT with CANFDX and CANOVIO) gets the data streamed, with a ZACK
    /// asked for every quarter window and what it sends back read between
    /// subpackets; one that announces a buffer size gets at most that much
    /// (and at most the window) before the sender waits for its ZACK. The
    /// window and the subpackets shrink after damage and grow again after
    /// clean windows (never beyond this value and 8 KiB).
    int window = 0;
    Offer offer = Offer::NameAndSize;
    /// Receiving: a file whose offer carries a modification time and a mode
    /// gets them. The mode never gains what the receive folder denies, nor
    /// setuid, setgid or sticky, nor more than the umask lets through; a file
    /// that was there already never gains permissions.
    bool keepTimeAndMode = false;
    /// Receiving: ZRINIT goes out as the session starts, before the sender's
    /// "rz\r" and ZRQINIT arrived (and again in answer to them), as rz does:
    /// a sender that is already waiting for it saves a round trip.
    bool greetAtOnce = false;

    bool operator==(const SessionSettings&) const = default;
};

}  // namespace ZModem
