#pragma once
// Tool::Bridge: joins a pair of descriptors (standard input and output) with
// an open device, both ways, for "cat" and "term".
//
//   input fd --thread--> [keys: escape commands, Enter map, echo] --write--> device
//   output fd <--------- [LF map, session log] <--read-- device   (caller's thread)
//
// The two threads share the device as UDL::SharedDevice says (the relay's
// way): a full-duplex device is read and written at once, any other one (a
// modem) never.

#include <atomic>
#include <exception>
#include <string>

#include <varonet/udl/SharedDevice.h>

#include "SessionLog.h"
#include "TerminalCommands.h"
#include "Tool.h"

namespace Tool {

class Bridge {
public:
    struct Options {
        int inFd = 0;
        int outFd = 1;
        int escape = -1;              ///< the key that starts a command (escape, q quits); -1 for none
        bool echo = false;            ///< show typed bytes on the output
        std::string enter;            ///< what a typed CR is sent as; empty: as typed
        bool inCrLf = false;          ///< show a received LF as CR LF
        unsigned int lingerMs = 500;  ///< after the input ended, stop once the device is silent this long
        TrafficDump* dump = nullptr;  ///< '>' towards the device, '<' from it
        SessionLog* log = nullptr;    ///< what the device sends is recorded there
    };
    enum EEnd { InputEnded, DeviceClosed, HungUp, EscapeKey, Stopped, OutputClosed };

    Bridge(IO::Device& device, const Options& options);
    /// Runs until one of the ends; throws what the device throws (other than
    /// the peer closing) and Failure for an unreadable input.
    EEnd run();
    /// True when the last byte shown on the output ended a line.
    bool atLineStart() const { return mbAtLineStart; }

private:
    void pumpInput();
    std::string keysToSend(const char* typed, std::size_t length);
    bool show(const std::string& text);
    EEnd pumpOutput();
    EEnd afterNothingRead();

    UDL::SharedDevice mShared;
    Options mOptions;
    TerminalCommands mCommands;
    std::atomic<bool> mbInputEnded{false}, mbEscaped{false}, mbQuit{false};
    std::atomic<long long> mInputEndedAt{0};
    std::exception_ptr mInputFailure;  // written before mbInputEnded
    bool mbCommandNext = false;        // the escape key came: the next key is a command
    std::atomic<bool> mbAtLineStart{true};
    int mWake[2] = {-1, -1};
};

}  // namespace Tool
