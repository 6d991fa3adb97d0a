#pragma once
// Net::ModemServer: answers incoming calls on one modem line.
//
// The server wraps the line's template modem: it polls the line for "RING"
// (waitForConnection), answers with a new call modem that shares the line
// and the template's configuration ("ATA", then up to 3000 ms for DCD), and
// hands that call modem out. One call at a time: while a call is active the
// line stays locked and the server does not poll it.
//
// The server is the device manager of its call modems. The end of a call is
// the deletion of its call modem (directly, through releaseDevice, or by
// closing the IO::ServerDevice that holds it): it hangs up if the call still
// stands and then gives the call back through releaseServer, which unlocks
// the line and lets the server poll for the next ring. Closing a call modem
// only hangs up; the line stays reserved until the call modem is deleted,
// so a stale call object never mistakes the next caller's carrier for its own.
// A call modem must be deleted before its server (the server owns the line).
//
//   server                      modem                       caller
//     (poll, 250 ms) <--------- "RING" <--------------------- rings
//     "ATA" ----------------->
//     <---------------------- "CONNECT ..."  (DCD up)
//     hand out the call modem; data flows ...
//     delete the call modem:  DTR drop / "ATH", line unlocked

#include <atomic>
#include <memory>

#include <varonet/base/DeviceManager.h>
#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>
#include <varonet/base/WakeSignal.h>
#include <varonet/net/modem/Modem.h>

namespace Net {

class VARONET_API ModemServer : public IO::WrapperDeviceServer, public IO::DeviceManager {
public:
    /// Wraps the template modem. With owns true the server takes ownership of
    /// it and deletes it (and so its line) with itself.
    ModemServer(Modem* templateModem, bool owns);
    ~ModemServer() override;

    /// Init string and connect time-out the template modem gets for answering.
    void setInitString(const Base::String& init) { msInitString = init; }
    const Base::String& getInitString() const { return msInitString; }
    void setConnectTimeout(unsigned int ms) { muConnectTimeout = ms; }
    unsigned int getConnectTimeout() const { return muConnectTimeout; }
    Modem* getTemplateModem() const { return mpTemplate; }
    /// True while a call modem is handed out and not yet given back.
    bool isCallActive() const { return mbCallActive.load(); }

    /// "server:<kind>:Device=<" + the line's name + ">".
    virtual Base::String getName() = 0;

    void setBlocking(bool blocking) override;
    /// Polls the line once for "RING" (one wait of up to 250 ms) and, when
    /// none came, sleeps ms (wakeUp ends the sleep). While a call is active it
    /// only sleeps. Failures on the line are swallowed (false). True when a
    /// ring was seen.
    bool waitForConnection(unsigned int ms) override;
    /// Answers a call that rang and returns the connected call modem (the
    /// caller owns it). Not blocking: null when no ring was seen or the call
    /// did not connect. Blocking: polls until a ring is answered, or throws
    /// IO::SystemException EINTR when wakeUp ended the wait. A failing "ATA"
    /// passes its exception on with the line unlocked.
    IO::Device* acceptInternal() override;
    void rejectInternal() override {}
    /// Ends the sleep of a wait or blocking accept that another thread is in
    /// (a poll of the line that runs finishes first, at most 250 ms), or the
    /// next one; a wait of 0 ms leaves it pending.
    void wakeUp() override { mWake.wake(); }

    // --- the call modems' manager ---
    /// Passed to the template modem's manager when it has one; otherwise returns server.
    IO::DeviceServer* manageServer(IO::DeviceServer* server) override;
    /// Call modems are not managed from outside: null.
    IO::Device* manageDevice(IO::Device* device) override;
    /// Ends a call modem: the template modem's manager, when it has one, hears
    /// of it first (it must only forget the device: the device was never its
    /// own), then the device is deleted, which hangs up and frees the line.
    void releaseDevice(IO::Device* device) override;
    /// The release of the call: unlocks the line and clears the active call.
    void releaseServer(IO::DeviceServer* server) override;
    void deviceRenamed(const Base::String& oldName, IO::Device* device) override;
    /// The lock operations of a call modem: the template modem's manager's when
    /// it has one; otherwise lock does nothing, trylock succeeds, unlock frees
    /// the device's own lock and isLocked is false.
    void unlockDevice(IO::Device* device) override;
    void lockDevice(IO::Device* device) override;
    bool trylockDevice(IO::Device* device, unsigned int ms) override;
    bool isDeviceLocked(IO::Device* device) override;

protected:
    /// A new call modem over the template's line, sharing its configuration;
    /// the caller owns it.
    virtual Modem* createChild() = 0;
    /// The body of createChild for a template modem of class ModemClass: a
    /// call modem of that class over the line, with the template's logger and
    /// configuration ID, managed by this server. The caller owns it.
    /// (Defined beside the call modem, in CallModem.h.)
    template <class ModemClass>
    Modem* createCallModem(const ModemClass& templateModem);
    /// Gives the template modem the answering settings when the line is in
    /// another configuration, then waits up to ms for "RING".
    virtual bool checkForRing(unsigned int ms) = 0;

    /// The line's name as the server's name shows it.
    Base::String getLineName();
    /// The template modem's line.
    StatefulDevice* getLine() const;

private:
    enum class Poll { Ring, Nothing, Woken };
    /// One poll of the line for "RING", then, without one, a pause of ms that wakeUp ends.
    Poll pollLine(unsigned int ms);
    Modem* answer();
    static void lockLoop(Base::Lockable& lockable);

    std::atomic<bool> mbCallActive{false};
    Modem* mpTemplate;
    Base::String msInitString = "";
    unsigned int muConnectTimeout = 30000;
    Modem* mpCall = nullptr;  // the call modem handed out, while the call is active
    Thread::WakeSignal mWake;
};

}  // namespace Net
