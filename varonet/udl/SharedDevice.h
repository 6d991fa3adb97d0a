#pragma once
// UDL::SharedDevice: one device driven by two threads, a reader and a writer.
//
//   reading thread: open, isOpen, waitForData, read
//   writing thread: write (and flush)
//
// It keeps IO::Device's full-duplex contract: a device that is
// isFullDuplex() (sockets, pipes, serial ports) is read and written at once,
// so a write that waits for the far end never stops the reader; any other
// device (a modem, a file) is never read and written at once: its waits are
// short looks under the read lock, and a write takes its turn between them.
// No device is opened or closed under a read or a write, and a write never
// waits for an open (a server waiting for its caller, a modem dialling): while
// the device is closed or being opened, writes are refused at once.
//
//   UDL::SharedDevice shared(device);              // device opened by the reader
//   reader:  if (shared.waitForData(100)) n = shared.read(buffer, sizeof buffer);
//   writer:  shared.write(data, length);           // the bytes it took

#include <atomic>
#include <functional>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/Mutex.h>

namespace UDL {

class VARONET_API SharedDevice {
public:
    /// Borrows device, which must outlive this object; asks it whether it is
    /// open (before the threads start).
    explicit SharedDevice(IO::Device& device);
    SharedDevice(const SharedDevice&) = delete;
    SharedDevice& operator=(const SharedDevice&) = delete;

    IO::Device& device() const { return mrDevice; }

    // ---- the reading thread
    /// Opens the device when it is closed; true when it did, false when it was
    /// open already. Throws what the device's open throws.
    bool open();
    /// Asks the device; a device found closed refuses writes from then on, one
    /// found open (opened by someone else) takes them.
    bool isOpen();
    /// Waits at most ms for data; throws what the device's wait throws.
    bool waitForData(unsigned int ms);
    /// Reads what is queued, at most most bytes; 0 when nothing is.
    long read(char* buffer, long most);

    // ---- the writing thread
    /// Writes all of data unless the device is closed, being opened or fails
    /// (a Base::Exception is caught): the number of bytes it took.
    long write(const char* data, long length);
    /// Pushes written bytes out (a serial port waits until they are sent).
    void flush();
    /// True while the device is open and takes writes.
    bool isWritable() const { return mbWritable.load(); }

    /// Runs f on the device with nothing else using it (no read, write, open or close).
    void withDevice(const std::function<void(IO::Device&)>& f);

private:
    void setWritable(bool writable);
    /// Runs f as a write: beside the reader, or between its looks.
    long inWriteTurn(const std::function<long()>& f);

    IO::Device& mrDevice;
    // The read lock: the reading thread while it asks, reads, opens or closes, and a
    // writer to a device that is not full-duplex. The write lock: a write, and the
    // switch of mbWritable. Whoever holds both took the read lock first.
    Thread::Mutex mReadLock;
    Thread::Mutex mWriteLock;
    std::atomic<bool> mbWritable{false};
    std::atomic<int> miWritersWaiting{0};  // writers and withDevice waiting for the read lock: the reader lets them in
};

}  // namespace UDL
