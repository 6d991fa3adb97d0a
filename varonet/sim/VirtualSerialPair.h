#pragma once
// Sim::VirtualSerialPair: two in-process serial ports joined like a null-modem
// cable. What one end writes, the other reads; one end's DTR is the other's
// DCD and DSR, and its RTS the other's CTS. Closing an end drops its DTR and
// RTS and discards what it had not read. Bytes written while the other end
// is closed are lost, as on a cable to a switched-off device.
//
// The names are ordinary serial port names: serial:VCOM1@9600 opens one end
// once VirtualSerialPair::create("VCOM1", "VCOM2") has run: the pair registers
// its two ends as port makers of IO::SerialDevice.

#include <memory>

#include <varonet/base/Export.h>
#include <varonet/base/SerialPort.h>
#include <varonet/base/String.h>

namespace Sim {

class VARONET_API VirtualSerialPair {
public:
    /// Registers the pair; throws IO::Exception (ErrBadArgument) when a name is taken.
    static void create(const Base::String& nameA, const Base::String& nameB);
    /// Unregisters the pair that has this end; ports already open keep working.
    static void remove(const Base::String& name);
    static bool exists(const Base::String& name);
    /// A new (closed) port for the named end, or null when the name is not a virtual port.
    static std::unique_ptr<IO::SerialPort> makePort(const Base::String& name);
};

}  // namespace Sim
