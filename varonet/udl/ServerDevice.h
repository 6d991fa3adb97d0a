#pragma once
// IO::ServerDevice: a device that waits on a server for one caller.
//
// open() waits (at most the connect time-out, when one is set) and accepts a
// caller; from then on every read and write goes to that connection. close()
// drops the connection and the next open() accepts the next caller on the
// same server. Without a connection, I/O throws Base::Exception 1028.

#include <memory>
#include <mutex>

#include <varonet/base/Device.h>
#include <varonet/base/DeviceServer.h>
#include <varonet/base/Export.h>

namespace IO {

class CallerGroup;

class VARONET_API ServerDevice : public Device {
public:
    /// What happens to a caller who comes while another one is connected.
    enum EExtraCallers {
        /// It waits in the server's queue and is accepted by the next open
        /// (what it sends meanwhile reaches the device then). The default.
        QueueExtraCallers,
        /// It is turned away (the server's reject) as soon as the device next
        /// waits for data.
        RejectExtraCallers,
        /// It joins: what is written goes to every caller, what any caller
        /// sends is read (the device's waits look at each caller in turn).
        /// The device closes when the last caller has gone.
        ShareWithExtraCallers,
    };

    /// Takes ownership of server (deleted with the device, or given back to
    /// the device's manager). connectTimeoutMs = 0: open waits as long as the server does.
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
    /// Wakes the connection and the server (from any thread): a read or wait
    /// on the connection ends, and so does open() waiting for a caller, now or
    /// the next time it waits.
    void wakeUp() override;
    /// Set before the device is opened.
    void setExtraCallers(EExtraCallers how);
    /// As the connection (false without one).
    bool isFullDuplex() override;

    // The lock is the server's.
    void lock() override;
    bool trylock() override;
    using Device::trylock;
    void unlock() override;
    bool isLocked() override;

    /// The server and the connection, borrowed (null without a connection).
    DeviceServer* getServer() const { return mpServer.get(); }
    Device* getConnection() const { return mpConnection.get(); }
    unsigned int getConnectTimeout() const { return muConnectTimeout; }

private:
    Device& connection();
    Device& reading();
    bool waitShared(unsigned int ms);
    bool nextCallerTakesOver();
    void setConnection(std::unique_ptr<Device> connection);

    std::unique_ptr<Device> mpConnection;
    std::unique_ptr<DeviceServer> mpServer;
    unsigned int muConnectTimeout;
    EExtraCallers meExtraCallers = QueueExtraCallers;
    // Sharing: the callers beside the first one, and the one the last wait found data on.
    std::unique_ptr<CallerGroup> mpOthers;
    Device* mpReading = nullptr;
    // Guards replacing the connection against wakeUp from another thread.
    std::mutex mConnectionMutex;
};

}  // namespace IO
