#pragma once
// IO::ServerDevice: a device that waits on a server for one caller.
//
// open() waits (at most the connect time-out, when one is set) and accepts a
// caller; from then on every read and write goes to that connection. close()
// drops the connection and the next open() accepts the next caller on the
// same server. Without a connection, I/O throws Base::Exception 1028.

#include <varonet/base/Device.h>
#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>

namespace IO {

class VARONET_API ServerDevice : public Device {
public:
    /// Takes over server. connectTimeoutMs = 0: open waits as long as the server does.
    ServerDevice(DeviceServer* server, unsigned int connectTimeoutMs);
    ServerDevice(const ServerDevice&) = delete;
    ServerDevice& operator=(const ServerDevice&) = delete;
    /// Deletes the connection; gives the server back to the device manager, or deletes it.
    ~ServerDevice() override;

    bool isOpen() override;
    /// Throws Base::TimeoutException when no caller comes within the connect
    /// time-out, IO::Exception 1046 when the server hands out nothing.
    void open() override;
    void close() override;
    /// The connection's name, or "Unknown ServerDevice".
    Base::String getName() override;

    long read(char* buffer, long length) override;
    using InputDevice::read;
    void skip(long count) override;
    long size() override;
    bool isEOF() override;
    unsigned int getTimeout() override;
    bool waitForData(unsigned int ms) override;
    long readInternal(char* buffer, long length) override;
    long write(const char* buffer, long length) override;
    using OutputDevice::write;
    void flush() override;
    void initialize() override;
    /// Wakes the connection and the server, so that a read or an open() that
    /// waits for the next caller ends. A server woken while a caller is
    /// connected makes the next wait for a caller end at once, once.
    void wakeUp() override;

    // The lock is the server's.
    void lock() override;
    bool trylock() override;
    using Device::trylock;
    void unlock() override;
    bool isLocked() override;

    DeviceServer* getServer() const { return mpServer; }
    Device* getConnection() const { return mpConnection; }
    unsigned int getConnectTimeout() const { return muConnectTimeout; }

private:
    Device& connection();

    Device* mpConnection = nullptr;
    DeviceServer* mpServer;
    unsigned int muConnectTimeout;
};

}  // namespace IO
