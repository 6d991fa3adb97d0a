// The resolver's branches for sockets and local pipes.
#include "base/Exception.h"
#include "udl/BaseDeviceResolver.h"
#include "udl/UDLErrors.h"

namespace UDL {

IO::Device* BaseDeviceResolver::resolveTcpIp(const Base::String& locator, IO::DeviceManager*) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "TCP/IP devices are not available in this build: '" + locator + "'");
}

IO::Device* BaseDeviceResolver::resolveDomain(const Base::String& locator, IO::DeviceManager*) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, "local pipe devices are not available in this build: '" + locator + "'");
}

}  // namespace UDL
