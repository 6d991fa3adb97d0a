// The server side of the resolver and its "server:" client branch.
#include "base/Exception.h"
#include "udl/BaseDeviceResolver.h"
#include "udl/UDLErrors.h"

namespace UDL {

IO::DeviceServer* BaseDeviceResolver::resolveServer(const Base::String&, Log::Logger*, IO::DeviceManager*) {
    return nullptr;  // no server kinds are built yet
}

IO::Device* BaseDeviceResolver::resolveServerDevice(const Base::String& locator, Log::Logger*, IO::DeviceManager*) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "server devices are not available in this build: '" + locator + "'");
}

}  // namespace UDL
