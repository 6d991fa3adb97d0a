// A device that passes everything to the device it wraps, owning it or not.
#include <varonet/base/WrapperDevice.h>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>

namespace IO {

WrapperDevice::WrapperDevice(Device* device, bool owns) : mpDevice(device), mpOwned(owns ? device : nullptr) {}

WrapperDevice::~WrapperDevice() = default;

Device& WrapperDevice::underlying() const {
    if (!mpDevice) throw Exception(ErrNotOpen, ".", __LINE__, "no wrapped device");
    return *mpDevice;
}

bool WrapperDevice::isOpen() { return mpDevice && mpDevice->isOpen(); }
void WrapperDevice::open() { underlying().open(); }
void WrapperDevice::close() {
    if (mpDevice) mpDevice->close();
}
Base::String WrapperDevice::getName() { return mpDevice ? mpDevice->getName() : Base::String(""); }
long WrapperDevice::read(char* buffer, long length) { return underlying().read(buffer, length); }
long WrapperDevice::size() { return underlying().size(); }
bool WrapperDevice::isEOF() { return !mpDevice || mpDevice->isEOF(); }
unsigned int WrapperDevice::getTimeout() { return mpDevice ? mpDevice->getTimeout() : 0; }
bool WrapperDevice::waitForData(unsigned int ms) { return underlying().waitForData(ms); }
long WrapperDevice::getReadableBytes() { return underlying().getReadableBytes(); }
long WrapperDevice::readInternal(char* buffer, long length) { return underlying().readInternal(buffer, length); }
long WrapperDevice::write(const char* buffer, long length) { return underlying().write(buffer, length); }
void WrapperDevice::flush() { underlying().flush(); }
void WrapperDevice::initialize() {}
bool WrapperDevice::isReliable() { return mpDevice && mpDevice->isReliable(); }
void WrapperDevice::wakeUp() {
    if (mpDevice) mpDevice->wakeUp();
}

}  // namespace IO
