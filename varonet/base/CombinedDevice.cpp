// A device whose reads go to one device and writes to another, opened and closed as one.
#include <varonet/base/CombinedDevice.h>

namespace IO {

CombinedDevice::CombinedDevice(Device* input, Device* output, bool owns)
    : mpInput(input), mpOutput(output), mpOwnedInput(owns ? input : nullptr),
      mpOwnedOutput(owns && output != input ? output : nullptr) {}

CombinedDevice::~CombinedDevice() = default;

void CombinedDevice::open() {
    mpInput->open();
    if (mpOutput != mpInput) mpOutput->open();
}

void CombinedDevice::close() {
    mpInput->close();
    if (mpOutput != mpInput) mpOutput->close();
}

Base::String CombinedDevice::getName() {
    if (mpOutput == mpInput) return mpInput->getName();
    return mpInput->getName() + "/" + mpOutput->getName();
}

}  // namespace IO
