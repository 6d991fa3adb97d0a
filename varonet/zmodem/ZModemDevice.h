#pragma once
// ZModem::ZModemDevice: an IO::Device whose bytes travel as ZMODEM data.
//
// Every write is one complete ZDATA exchange (frames of at most 1024 bytes,
// ZEOF, answered with ZRINIT); a read that finds nothing buffered receives one
// whole exchange from the peer. Two such devices joined by a line therefore
// exchange messages whose boundaries are the writes.
//
//   writer                                   reader
//     ZDATA(0) + 1024 bytes ZCRCW ------------->
//     <----------------------------------------- ZACK
//     ...  last bytes ZCRCE, ZEOF ------------->
//     <----------------------------------------- ZRINIT
#include <memory>

#include <varonet/base/ByteArray.h>
#include <varonet/base/Export.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/base/UnreliableDevice.h>

namespace ZModem {

class CZModem;

class VARONET_API ZModemDevice : public IO::UnreliableDevice {
public:
    /// device is borrowed: never opened, closed or deleted here.
    explicit ZModemDevice(IO::Device* device);
    ~ZModemDevice() override;
    ZModemDevice(const ZModemDevice&) = delete;
    ZModemDevice& operator=(const ZModemDevice&) = delete;

    bool isOpen() override { return true; }
    void open() override {}
    void close() override {}
    Base::String getName() override { return "ZModem device"; }
    /// Unread bytes of the last message plus undecoded bytes from the line.
    long size() override;
    bool isEOF() override { return size() == 0; }
    /// True at once when size() is above 0, else waits up to ms for the line.
    bool waitForData(unsigned int ms) override;
    /// Hands out bytes of the last message; when it is used up, first receives
    /// the next message (blocking as the session does). Returns the count
    /// handed out, 0 when no message came.
    long readInternal(char* buffer, long length) override;
    /// Sends the length bytes as one message; returns length. Throws
    /// Base::Exception (ZModemErrors::ErrDeviceSession) when the session fails.
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    /// The session underneath (for Terminate, the debug state, tests).
    /// The pointer is borrowed: the device keeps the session.
    CZModem* getSession() const { return mpSession.get(); }

private:
    std::unique_ptr<CZModem> mpSession;
    Base::ByteArray mReceive;
    std::unique_ptr<Base::MemoryDevice> mpReader;
};

}  // namespace ZModem
