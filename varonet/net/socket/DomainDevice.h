#pragma once
// Net::DomainDevice: a local duplex byte stream to a Net::DomainServer of the
// same user (a named pipe; on Linux an AF_UNIX stream socket, see DomainAddress).
//
// Copies share one connection. A client device opens in open; a device
// handed out by the server is open from the start and named "domain:".

#include <memory>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/base/UnreliableDevice.h>

namespace Net {

class BsdSocket;
class DomainServer;

class VARONET_API DomainDevice : public IO::UnreliableDevice {
public:
    /// A client for the pipe name; nothing is opened yet.
    explicit DomainDevice(const Base::String& name);
    /// Copies share the connection.
    DomainDevice(const DomainDevice& other);
    DomainDevice& operator=(const DomainDevice& other);
    ~DomainDevice() override;

    /// Connects to the server of the name: ENOENT when no server ever listened
    /// there, ECONNREFUSED when it has gone; Base::Exception ErrNameConversion
    /// for a name that cannot be a path. Opening an open device does nothing.
    void open() override;
    bool isOpen() override;
    void close() override;
    /// "domain:" and the pipe name ("domain:" alone for a device from the server).
    Base::String getName() override;
    const Base::String& getPath() const { return msPath; }

    /// Bytes queued now. When nothing is queued and the other end has gone, the
    /// device is closed and EPIPE is raised.
    long size() override;
    /// True when nothing more can come (not open, or the other end gone and all read).
    bool isEOF() override;
    /// True at once when bytes are queued or the other end has gone (size or a
    /// read then tells which), otherwise waits up to ms for either (0 only looks;
    /// wakeUp ends the wait early and gives false). One poll(2); it never closes
    /// the device. EBADF when the device is not open.
    bool waitForData(unsigned int ms) override;
    /// At most length bytes; waits for the first one (wakeUp ends the wait with
    /// EINTR). 0 when the other end has closed; the device is then closed.
    long readInternal(char* buffer, long length) override;
    /// Writes all bytes; EPIPE when the other end has gone.
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    /// Ends a blocking read or wait now or at its next start (from any thread).
    void wakeUp() override;

protected:
    friend class DomainServer;
    /// Adopts a connection accepted by the server (path empty).
    explicit DomainDevice(const BsdSocket& connection);

private:
    bool isPeerGone();

    std::unique_ptr<BsdSocket> mpSocket;  // a handle: copies of the device share the connection
    Base::String msPath;
};

}  // namespace Net
