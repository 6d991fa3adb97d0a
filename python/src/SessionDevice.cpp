// PyVaronet::SessionDevice: the held bytes first, then the device.
#include "SessionDevice.h"

namespace PyVaronet {

long SessionDevice::read(char* buffer, long length) {
    long held = mrHeld.take(buffer, length);
    return held == length ? held : held + IO::WrapperDevice::read(buffer + held, length - held);
}

long SessionDevice::readInternal(char* buffer, long length) {
    if (mrHeld.size() > 0) return mrHeld.take(buffer, length);
    return IO::WrapperDevice::readInternal(buffer, length);
}

long SessionDevice::size() { return mrHeld.size() + IO::WrapperDevice::size(); }

bool SessionDevice::waitForData(unsigned int ms) { return mrHeld.size() > 0 || IO::WrapperDevice::waitForData(ms); }

bool SessionDevice::isEOF() { return mrHeld.size() == 0 && IO::WrapperDevice::isEOF(); }

}  // namespace PyVaronet
