#pragma once
// IO::CallerGroup: the callers who share a server device beside its first one.

#include <memory>
#include <mutex>
#include <vector>

#include <varonet/base/Device.h>
#include <varonet/base/DeviceServer.h>

namespace IO {

/// The further callers of a ServerDevice that shares its port. The reading
/// thread admits, looks at and drops callers; the writing thread writes to
/// all of them. A caller is deleted only by the reading thread, under the
/// group's lock, which every write holds.
class CallerGroup {
public:
    /// Accepts every caller waiting at server now (a wait of 0 only looks),
    /// and deletes the callers that closed or failed a write.
    void admit(DeviceServer& server);
    /// A caller with data queued, or null; a caller found closed is dropped.
    Device* readable();
    /// With lock() held: writes to every caller; one whose write fails is
    /// dropped at the next admit. A caller who does not read holds up the rest.
    void write(const char* data, long length);
    void flush();
    /// With lock() held: hands out the longest-waiting caller (null when there is none).
    std::unique_ptr<Device> takeFirst();
    void clear();
    /// The lock every write holds; whoever replaces the first caller holds it too.
    std::mutex& lock() { return mMutex; }

private:
    struct Caller {
        std::unique_ptr<Device> device;
        bool failed = false;
    };
    std::mutex mMutex;
    std::vector<Caller> mCallers;
};

}  // namespace IO
