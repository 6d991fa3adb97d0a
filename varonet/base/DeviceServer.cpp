// DeviceServer::accept: the server's own accept time-out, then acceptInternal.
#include <varonet/base/DeviceServer.h>

#include <varonet/base/Exception.h>

namespace IO {

Device* DeviceServer::accept() {
    if (muAcceptTimeout != 0 && !waitForConnection(muAcceptTimeout))
        throw Base::TimeoutException(".", __LINE__, "no caller within the accept time-out");
    return acceptInternal();
}

}  // namespace IO
