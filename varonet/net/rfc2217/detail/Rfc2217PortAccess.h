#pragma once
// Net::Rfc2217PortAccess: the way from an RFC 2217 server and its connections
// to the serial port they control, shared by all of them and changed while
// they run.

#include <functional>
#include <mutex>

#include <varonet/base/Exception.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/net/rfc2217/Rfc2217Server.h>

namespace Net {

struct Rfc2217PortAccess {
    /// Runs f on the port: false when there is none (no access, or the access
    /// found no serial port) or f failed (a closed port, a setting it refuses).
    bool run(const std::function<void(IO::SerialDevice&)>& f) {
        std::lock_guard<std::mutex> guard(mMutex);
        if (!mAccess) return false;
        bool done = false;
        try {
            mAccess([&](IO::SerialDevice& port) {
                f(port);
                done = true;
            });
        } catch (const Base::Exception&) {
            return false;
        }
        return done;
    }

    void set(Rfc2217Server::PortAccess access) {
        std::lock_guard<std::mutex> guard(mMutex);
        mAccess = std::move(access);
    }

private:
    std::mutex mMutex;  // held while the access runs, so that set waits for it
    Rfc2217Server::PortAccess mAccess;
};

}  // namespace Net
