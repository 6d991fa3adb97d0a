#pragma once
// IO::FastSerialDevice: a serial port with the settings of a fast
// synchronous-capable adapter. The four special settings are stored and
// reported; a termios port applies the divider as a custom speed
// (clock / (16 / 8 per oversampling) / divider) where the driver allows and
// ignores the rest.

#include <varonet/base/Export.h>
#include <varonet/base/SerialDevice.h>

namespace IO {

class VARONET_API FastSerialDevice : public SerialDevice {
public:
    /// The adapter's reference clock in Hz.
    static constexpr unsigned int ClockHz = 1843200;

    FastSerialDevice(unsigned int portNumber, EBaudRate baudrate) : SerialDevice(portNumber, baudrate) {}
    FastSerialDevice(const Base::String& portName, EBaudRate baudrate) : SerialDevice(portName, baudrate) {}

    void setExternalClock(bool external) { mbExternalClock = external; }
    bool getExternalClock() const { return mbExternalClock; }
    /// 0 = use the baud rate; otherwise the speed is derived from the clock.
    void setBaudrateDivider(unsigned int divider);
    unsigned int getBaudrateDivider() const { return muDivider; }
    void setSynchronous(bool synchronous) { mbSynchronous = synchronous; }
    bool getSynchronous() const { return mbSynchronous; }
    void setOversampling(bool oversampling);
    bool getOversampling() const { return mbOversampling; }
    /// The speed the divider gives (0 without a divider).
    unsigned int getDividedSpeed() const;

protected:
    void applySpeed() override;

private:
    bool mbExternalClock = false;
    unsigned int muDivider = 0;
    bool mbSynchronous = false;
    bool mbOversampling = false;
};

}  // namespace IO
