#pragma once
// Tool::Bridge: joins a pair of descriptors (standard input and output) with
// an open device, both ways, for "cat" and "term".
//
//   input fd --thread--> [keys: escape, Enter map, echo] --write--> device
//   output fd <--------- [LF map] <--read-- device   (caller's thread)
//
// The device is read and written under one lock, so the two directions never
// use it at the same moment; the wait for data happens outside the lock.

#include <string>

#include "Tool.h"

namespace Tool {

class Bridge {
public:
    struct Options {
        int inFd = 0;
        int outFd = 1;
        int escape = -1;              ///< a key that ends the session; -1 for none
        bool echo = false;            ///< show typed bytes on the output
        std::string enter;            ///< what a typed CR is sent as; empty: as typed
        bool inCrLf = false;          ///< show a received LF as CR LF
        unsigned int lingerMs = 500;  ///< after the input ended, stop once the device is silent this long
        TrafficDump* dump = nullptr;  ///< '>' towards the device, '<' from it
    };
    enum EEnd { InputEnded, DeviceClosed, EscapeKey, Stopped, OutputClosed };

    Bridge(IO::Device& device, const Options& options) : mrDevice(device), mOptions(options) {}
    /// Runs until one of the ends; throws what the device throws (other than
    /// the peer closing) and Failure for an unreadable input.
    EEnd run();

private:
    IO::Device& mrDevice;
    Options mOptions;
};

}  // namespace Tool
