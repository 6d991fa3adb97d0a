#pragma once
// Net::StatefulDevice: one physical modem line shared by modem objects.
//
// Data passes through unchanged to the wrapped device (normally a serial
// port). Beside it the line keeps what every modem on it must agree on: the
// counter that hands out configuration IDs, the ID of the configuration the
// modem was last set up with (its state; 0 = not set up), and the result of
// identifying the modem chip.

#include <atomic>

#include <varonet/base/Export.h>
#include <varonet/base/Mutex.h>
#include <varonet/base/WrapperDevice.h>
#include <varonet/net/modem/ModemTypes.h>

namespace Net {

class VARONET_API StatefulDevice : public IO::WrapperDevice {
public:
    /// Wraps device (may be null); with owns true, deleting the line deletes it.
    explicit StatefulDevice(IO::Device* device, bool owns = true);

    /// A new configuration ID: 1 for the first call, then 2, 3, ... (thread-safe).
    unsigned int registerState();
    /// Records which configuration the line was set up with; 0 forces a new set-up.
    void setState(unsigned int state);
    unsigned int getState() const { return muState.load(); }

    EModemtypes getModemType() const { return meModemType; }
    void setModemType(EModemtypes type) { meModemType = type; }
    /// Row of the identification tables found for this line (0 = generic).
    unsigned int getInterfaceType() const { return muInterfaceType; }
    void setInterfaceType(unsigned int type) { muInterfaceType = type; }

private:
    std::atomic<unsigned int> muState{0};  // written under the mutex, read without it
    unsigned int muNextID = 1;
    Thread::Mutex mMutex;
    EModemtypes meModemType = ModemUnchecked;
    unsigned int muInterfaceType = 0;
};

}  // namespace Net
