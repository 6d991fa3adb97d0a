#pragma once
// ZModem::TransferObserver: what a file session tells an application about
// each file, on the session's thread.
//
// For every file offered or announced: fileStarted once, fileProgress as the
// data moves (bytes = the file position reached), then fileFinished once.
#include <cstdint>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace ZModem {

class VARONET_API TransferObserver {
public:
    enum class Outcome {
        Sent,     ///< transferred whole (sent, or received and written)
        Skipped,  ///< the receiver already had it, or kept its own file
        Failed    ///< see the code (a ZModemErrors code)
    };

    virtual ~TransferObserver() = default;
    /// name is the file's name without directory; size is the size sent or announced.
    virtual void fileStarted(const Base::String& /*name*/, std::uint64_t /*size*/) {}
    virtual void fileProgress(const Base::String& /*name*/, std::uint64_t /*bytes*/) {}
    /// code is 0 for Sent and Skipped.
    virtual void fileFinished(const Base::String& /*name*/, Outcome /*outcome*/, int /*code*/) {}
};

}  // namespace ZModem
