// The resolver's branches for dial-up devices.
#include "base/Exception.h"
#include "udl/BaseDeviceResolver.h"
#include "udl/UDLErrors.h"

namespace UDL {

IO::Device* BaseDeviceResolver::resolveModem(const Base::String& locator, Log::Logger*, IO::DeviceManager*) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "modems are not available in this build: '" + locator + "'");
}

IO::Device* BaseDeviceResolver::resolveIsdnModem(const Base::String& locator, Log::Logger*, IO::DeviceManager*) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "ISDN modems are not available in this build: '" + locator + "'");
}

IO::Device* BaseDeviceResolver::resolveCapi(const Base::String& locator, IO::DeviceManager*) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "CAPI devices are not available in this build: '" + locator + "'");
}

}  // namespace UDL
