#pragma once
// PyVaronet::Device: a resolved device shared by the Python threads that use it.
//
// A full-duplex device (sockets, pipes, serial ports) is read by one thread
// while another writes; any other device (a modem, a file) is never read and
// written at once: reads wait in looks of at most LookMs, and a waiting writer
// gets the next turn. Reads wait in slices that the caller chooses, so a
// Python thread can look at its signals between them. Bytes read past what a
// caller wanted (read_until) are kept for the next read.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <varonet/base/Device.h>

namespace PyVaronet {

class Device {
public:
    /// The longest look at a device that is not full-duplex: the most a write waits for its turn.
    static constexpr unsigned int LookMs = 20;

    /// Takes device; locator is its name for people.
    Device(std::unique_ptr<IO::Device> device, std::string locator);
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device();

    /// Opens the device (a server waits for its caller, a modem dials); wakeUp ends the wait.
    void open();
    /// Closes the device for good: a read in another thread ends, a write in
    /// progress finishes first. Closing twice does nothing.
    void close();
    /// False after close and once the stream has ended.
    bool isOpen();
    bool isClosed() const { return mbClosed.load(); }
    const std::string& locator() const { return msLocator; }
    /// Ends a blocking open or wait in another thread.
    void wakeUp() { mpDevice->wakeUp(); }

    /// Takes up to length of the bytes kept from an earlier read.
    long takeKept(char* buffer, long length);
    /// Keeps bytes for the next read, before those kept already.
    void keep(const char* data, long length);
    /// Waits at most ms for data and reads up to length bytes of it: the count,
    /// 0 when nothing came in time, -1 at the end of the stream or after close.
    long readSlice(char* buffer, long length, unsigned int ms);
    /// Bytes a read gets without waiting (kept ones included).
    long inWaiting();
    /// Writes all of data; throws what the device throws, and
    /// Base::Exception ErrNotOpen when it takes nothing.
    void write(const char* data, long length);
    /// Pushes written bytes out (a serial port waits until they are sent); nothing once closed.
    void flush();
    /// The device itself, for an object that borrows it (a ZMODEM session, a
    /// T=1 protocol) and uses it only inside exclusive.
    IO::Device& raw() { return *mpDevice; }
    /// Runs f with the device to itself: no read or write of another thread meanwhile.
    void exclusive(const std::function<void(IO::Device&)>& f);

private:
    /// The turn of a writer on a device that is not full-duplex: the read lock, taken fairly.
    std::unique_lock<std::mutex> readTurn();

    std::unique_ptr<IO::Device> mpDevice;
    std::string msLocator;
    const bool mbFullDuplex;
    std::mutex mTurn;       // taken briefly before the read lock, so a waiting writer goes next
    std::mutex mReadLock;   // a read (and mKept), or any use of a device that is not full-duplex
    std::mutex mWriteLock;  // a write
    std::string mKept;
    bool mbEnded = false;  // the stream ended (under mReadLock)
    std::atomic<bool> mbClosed{false};
};

}  // namespace PyVaronet
