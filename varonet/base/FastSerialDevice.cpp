// The fast serial adapter's special settings and the custom speed its baud-rate divider makes.
#include <varonet/base/FastSerialDevice.h>

namespace IO {

void FastSerialDevice::setBaudrateDivider(unsigned int divider) {
    muDivider = divider;
    if (isOpen()) applySpeed();
}

void FastSerialDevice::setOversampling(bool oversampling) {
    mbOversampling = oversampling;
    if (isOpen()) applySpeed();
}

unsigned int FastSerialDevice::getDividedSpeed() const {
    if (muDivider == 0) return 0;
    return ClockHz / (mbOversampling ? 8u : 16u) / muDivider;
}

void FastSerialDevice::applySpeed() {
    SerialDevice::applySpeed();
    // A driver that cannot do the divided speed keeps the standard one.
    if (unsigned int speed = getDividedSpeed()) port().setCustomSpeed(speed);
}

}  // namespace IO
