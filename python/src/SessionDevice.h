#pragma once
// PyVaronet::SessionDevice: a device as a ZMODEM session or a T=1 protocol
// borrows it: the bytes the Python reader holds already (read ahead, or read
// past a separator) come first, then the device's own.

#include <varonet/base/WrapperDevice.h>

#include "InputBuffer.h"

namespace PyVaronet {

class SessionDevice : public IO::WrapperDevice {
public:
    /// Borrows device and held, which must outlive it; used only by the thread that holds the device.
    SessionDevice(IO::Device& device, InputBuffer& held) : IO::WrapperDevice(&device, false), mrHeld(held) {}

    long read(char* buffer, long length) override;
    using IO::InputDevice::read;
    long readInternal(char* buffer, long length) override;
    long size() override;
    long getReadableBytes() override { return size(); }
    bool waitForData(unsigned int ms) override;
    bool isEOF() override;
    bool isFullDuplex() override { return underlying().isFullDuplex(); }

private:
    InputBuffer& mrHeld;
};

}  // namespace PyVaronet
