#pragma once
// Net::BsdSocketDevice: a stream-socket connection as an IO::Device.
//
// Copies share one socket: it stays open until the last copy goes, and
// closing one closes it for all. Protocol classes supply open and getName.
// The device closes itself when the peer closes (a read of 0 bytes), when
// isOpen finds the peer gone, and after any socket error but a would-block.

#include <memory>

#include <varonet/base/Export.h>
#include <varonet/base/UnreliableDevice.h>
#include <varonet/net/socket/BsdSocketType.h>

namespace Net {

class BsdSocket;
class BsdSocketDeviceInternal;

class VARONET_API BsdSocketDevice : public IO::UnreliableDevice {
public:
    /// No socket yet; open creates and connects one.
    BsdSocketDevice(const BsdSocketType& type, unsigned int connectTimeout);
    /// Adopts a connected socket descriptor: the device is open at once. The
    /// descriptor is the device's from the call on (closed even when the
    /// constructor fails).
    BsdSocketDevice(const BsdSocketType& type, int socket, unsigned int connectTimeout);
    BsdSocketDevice(const BsdSocketDevice& other);
    BsdSocketDevice& operator=(const BsdSocketDevice& other);
    ~BsdSocketDevice() override;

    /// Connected, probing the peer unless a read, write or wait is running on another thread.
    bool isOpen() override;
    bool isEOF() override;
    void close() override;
    /// Bytes queued now; raises EBADF when the device is not open.
    long size() override;
    /// True at once when bytes are queued; false after ms without any (0 only
    /// looks). Raises IO::Exception ErrNoSocket when not open and
    /// ErrReadEventNoData when the peer closed during the wait.
    bool waitForData(unsigned int ms) override;
    /// Blocking mode: waits for the first byte; non-blocking: IO::WouldBlockException
    /// when none is queued. 0 when the peer has closed, and the device is then closed.
    long readInternal(char* buffer, long length) override;
    /// Connect time-out in ms for the next open (0 = as long as the system allows).
    virtual void setConnectTimeout(unsigned int ms);
    /// All bytes on a blocking socket; a vanished peer raises EPIPE or ECONNRESET.
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    /// Switches the socket's mode; raises EBADF when the device is not open.
    void setBlocking(bool blocking);
    /// Ends a blocking read or wait on this socket now or at its next start
    /// (from any thread): a read raises EINTR, a wait returns false, and a timed
    /// connect in progress ends as a time-out.
    void wakeUp() override;

protected:
    /// Adopts socket.
    explicit BsdSocketDevice(std::unique_ptr<BsdSocketDeviceInternal> socket);
    BsdSocket& getSocket() const;

private:
    std::unique_ptr<BsdSocketDeviceInternal> mpSocket;
};

}  // namespace Net
