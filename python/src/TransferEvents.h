#pragma once
// PyVaronet::TransferEvents: what a ZMODEM session reports, kept for the Python thread.
//
// The session calls the observer on its own thread and never waits for
// Python: each call only updates the file's record under a lock. The Python
// thread takes the records that changed since it last looked, so progress
// reports are coalesced: it sees the latest position, and every start and end.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <varonet/zmodem/TransferObserver.h>

namespace PyVaronet {

class TransferEvents : public ZModem::TransferObserver {
public:
    struct File {
        std::string name;
        std::uint64_t size = 0;
        std::uint64_t bytes = 0;  // the file position reached
        std::optional<Outcome> outcome = std::nullopt;
        int code = 0;
    };

    /// changed is called (on the session's thread) when a file starts or ends.
    explicit TransferEvents(std::function<void()> changed) : mChanged(std::move(changed)) {}

    void fileStarted(const Base::String& name, std::uint64_t size) override;
    void fileProgress(const Base::String& name, std::uint64_t bytes) override;
    void fileFinished(const Base::String& name, Outcome outcome, int code) override;

    /// The records changed since the last call, in the order the files came.
    std::vector<File> takeChanged();
    /// Every file's record, in the order the files came.
    std::vector<File> files() const;
    bool anyFailed() const;

private:
    File& record(const std::string& name);

    std::function<void()> mChanged;
    mutable std::mutex mMutex;
    std::vector<File> mFiles;
    std::vector<bool> mbTouched;
};

}  // namespace PyVaronet
