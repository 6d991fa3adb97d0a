#pragma once
// Net::CapiDevice: an outgoing ISDN data connection through CAPI.
//
// The device hands all CAPI work to its wrapper (Capi::CCapi, owned), which
// runs a receive thread of its own: createCapi registers and starts it, open
// places the call (with redial), read and write move B3 data, close clears
// the call. Calls into the wrapper are made under the wrapper's lock.
//
// Reads do not wait: read returns what has arrived (0 when nothing has), so
// a reader that must wait calls waitForData first. A write larger than
// 65535 bytes (the wrapper's length field) is sent in pieces of 65535.

#include <memory>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/net/capi/CapiBackend.h>
#include <varonet/net/modem/ModemTypes.h>

namespace Capi {
class CCapi;
}

namespace Net {

class VARONET_API CapiDevice : public IO::Device {
public:
    /// One logical connection, 2 data blocks of 2048 bytes, 1 attempt; the
    /// wrapper reaches the process-wide default CAPI backend (as installed now).
    CapiDevice();
    /// The same over a backend of the caller's choice instead of the default;
    /// with null, registration fails as it does when no default is installed.
    explicit CapiDevice(std::shared_ptr<Capi::CapiBackend> backend);
    CapiDevice(const CapiDevice&) = delete;
    CapiDevice& operator=(const CapiDevice&) = delete;
    /// Stops the wrapper's thread and releases the registration (which clears a standing call).
    ~CapiDevice() override;

    /// Any protocol but X.25 on the B channel empties the logical number; X.75 also empties the user data.
    void setProtocol(EIsdnProtocol protocol);
    EIsdnProtocol getIsdnProtocol() const { return meProtocol; }
    void setNumber(const Base::String& number) { msNumber = number; }
    void setCallingX25Number(const Base::String& number) { msCallingX25Number = number; }
    void setLogicalNumber(const Base::String& number) { msLogicalNumber = number; }
    void setOwnMSN(const Base::String& msn) { msOwnMSN = msn; }
    void setTEI(const Base::String& tei) { msTEI = tei; }
    void setOutsideLineAccess(const Base::String& digits) { msOutsideLineAccess = digits; }
    void setNetworkPrefix(const Base::String& prefix) { msNetworkPrefix = prefix; }
    void setUserData(const Base::String& userData) { msUserData = userData; }
    void setMaxLogicalConnections(unsigned int count) { muMaxLogicalConnections = count; }
    void setDataBlocks(unsigned int count) { muDataBlocks = count; }
    void setBlockSize(unsigned int bytes) { muBlockSize = bytes; }
    /// Connection attempts in all; values below 1 are ignored.
    void setAttempts(int attempts);
    /// Seconds to wait after each failed attempt (the last one included).
    void setRedialWaitingTime(int seconds) { miRedialWaitingTime = seconds; }
    void setTimeout(unsigned long ms) { muTimeout = static_cast<unsigned int>(ms); }

    const Base::String& getNumber() const { return msNumber; }
    const Base::String& getCallingX25Number() const { return msCallingX25Number; }
    const Base::String& getLogicalNumber() const { return msLogicalNumber; }
    const Base::String& getOwnMSN() const { return msOwnMSN; }
    const Base::String& getTEI() const { return msTEI; }
    const Base::String& getOutsideLineAccess() const { return msOutsideLineAccess; }
    const Base::String& getNetworkPrefix() const { return msNetworkPrefix; }
    const Base::String& getUserData() const { return msUserData; }
    unsigned int getMaxLogicalConnections() const { return muMaxLogicalConnections; }
    unsigned int getDataBlocks() const { return muDataBlocks; }
    unsigned int getBlockSize() const { return muBlockSize; }
    int getAttempts() const { return miAttempts; }
    int getRedialWaitingTime() const { return miRedialWaitingTime; }
    Capi::CCapi* getCapi() const { return mpCapi.get(); }
    /// The wrapper's protocol text for a protocol: "X25", "X25D", "V110", otherwise "X75".
    static const char* protocolText(EIsdnProtocol protocol);

    /// Registers with CAPI and starts the wrapper's receive thread. False (the
    /// reason logged through the wrapper) when the registration failed.
    bool createCapi();

    /// Dials outside line access, network prefix and number; up to the
    /// attempt count, waiting the redial time after each failure. Throws
    /// Base::Exception 1048 when every attempt failed.
    void open() override;
    /// Clears the call; the device stays open when the clearing failed.
    void close() override;
    bool isOpen() override { return mbOpen; }
    Base::String getName() override { return "CapiDevice"; }

    /// What has arrived, at most length bytes; 0 when nothing has (no waiting).
    long read(char* buffer, long length) override;
    using IO::InputDevice::read;
    long readInternal(char* buffer, long length) override;
    /// All length bytes, or 0 when the wrapper refused the data.
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    /// Bytes received and not yet read.
    long size() override;
    bool isEOF() override { return size() <= 0; }
    unsigned int getTimeout() override { return muTimeout; }
    /// Waits at most ms for received bytes, polling in steps of at most 200 ms
    /// under the wrapper's lock; 0 returns false without looking. Throws
    /// Base::Exception 1553 when no connection stands.
    bool waitForData(unsigned int ms) override;

private:
    EIsdnProtocol meProtocol = IsdnX75;
    bool mbOpen = false;
    std::unique_ptr<Capi::CCapi> mpCapi;
    unsigned int muMaxLogicalConnections = 1;
    unsigned int muDataBlocks = 2;
    unsigned int muBlockSize = 2048;
    int miConnection = 0;
    Base::String msCallingX25Number = "";
    Base::String msLogicalNumber = "";
    Base::String msOwnMSN = "";
    Base::String msTEI = "";
    Base::String msNumber = "";
    Base::String msOutsideLineAccess = "";
    Base::String msNetworkPrefix = "";
    Base::String msUserData = "";
    int miAttempts = 1;
    int miRedialWaitingTime = 0;
    unsigned int muTimeout = 0;
};

}  // namespace Net
