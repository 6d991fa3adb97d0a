// The configuration IDs a modem line hands out and the configuration it was last set up with.
#include <varonet/net/modem/StatefulDevice.h>

namespace Net {

StatefulDevice::StatefulDevice(IO::Device* device, bool owns) : IO::WrapperDevice(device, owns) {}

unsigned int StatefulDevice::registerState() {
    Thread::Synchronized guard(mMutex);
    return muNextID++;
}

void StatefulDevice::setState(unsigned int state) {
    Thread::Synchronized guard(mMutex);
    muState = state;
}

}  // namespace Net
