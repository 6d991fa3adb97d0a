// IO::CallerGroup: the further callers of a server device that shares its port.
#include <varonet/udl/detail/CallerGroup.h>

#include <algorithm>

#include <varonet/base/Exception.h>

namespace IO {

void CallerGroup::admit(DeviceServer& server) {
    std::vector<Caller> gone;
    std::lock_guard<std::mutex> guard(mMutex);
    while (server.waitForConnection(0)) {
        std::unique_ptr<Device> caller(server.accept());
        if (!caller) break;
        if (!caller->isOpen()) caller->open();
        mCallers.push_back({std::move(caller)});
    }
    auto failed = std::stable_partition(mCallers.begin(), mCallers.end(), [](const Caller& c) { return !c.failed; });
    std::move(failed, mCallers.end(), std::back_inserter(gone));
    mCallers.erase(failed, mCallers.end());
}

Device* CallerGroup::readable() {
    std::lock_guard<std::mutex> guard(mMutex);
    for (Caller& caller : mCallers) {
        try {
            if (caller.device->waitForData(0) && caller.device->size() > 0) return caller.device.get();
            if (!caller.device->isOpen()) caller.failed = true;
        } catch (const Base::Exception&) {
            caller.failed = true;  // the caller left: dropped at the next admit
        }
    }
    return nullptr;
}

void CallerGroup::write(const char* data, long length) {
    for (Caller& caller : mCallers) {
        if (caller.failed) continue;
        try {
            long done = 0;
            for (long n = 1; done < length && n > 0; done += n) n = caller.device->write(data + done, length - done);
            caller.failed = done < length;
        } catch (const Base::Exception&) {
            caller.failed = true;
        }
    }
}

void CallerGroup::flush() {
    for (Caller& caller : mCallers) {
        try {
            if (!caller.failed) caller.device->flush();
        } catch (const Base::Exception&) {
            caller.failed = true;
        }
    }
}

std::unique_ptr<Device> CallerGroup::takeFirst() {
    for (auto it = mCallers.begin(); it != mCallers.end(); ++it) {
        if (it->failed) continue;
        std::unique_ptr<Device> first = std::move(it->device);
        mCallers.erase(it);
        return first;
    }
    return nullptr;
}

void CallerGroup::clear() {
    std::vector<Caller> gone;
    std::lock_guard<std::mutex> guard(mMutex);
    gone.swap(mCallers);
}

}  // namespace IO
