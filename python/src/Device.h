#pragma once
// PyVaronet::Device: a resolved device shared by the Python threads that use it.
//
// A full-duplex device (sockets, pipes, serial ports) is read by one thread
// while another writes; any other device (a modem, a file) is never read and
// written at once: reads wait in looks of at most LookMs, and a waiting writer
// gets the next turn. Reads wait in slices that the caller chooses, so a
// Python thread can look at its signals between them. A small read takes a
// whole chunk from the device when that much is there and holds the rest for
// the next reads, as it does with bytes read past a separator (read_until); a
// session that borrows the device sees them first.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <varonet/base/Device.h>

#include "InputBuffer.h"
#include "SessionDevice.h"

namespace PyVaronet {

class Device {
public:
    /// The longest look at a device that is not full-duplex: the most a write waits for its turn.
    static constexpr unsigned int LookMs = 20;
    /// A read of fewer bytes reads ahead: it takes as much as is there, up to a chunk, and holds
    /// what it did not want. The chunk starts at FirstChunkBytes and doubles each time a read
    /// fills it (a stream in full flow), up to ReadAheadBytes.
    static constexpr long ReadAheadBytes = 1024 * 1024;
    static constexpr long FirstChunkBytes = 64 * 1024;

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

    /// Takes up to length held bytes, unless another thread is reading: the
    /// count (0 then). Never waits, so the caller may keep the GIL.
    long takeHeldAtOnce(char* buffer, long length);
    /// Holds bytes for the next read, before those held already.
    void keep(const char* data, long length);
    /// Up to length bytes: the held ones, else what the device gives within ms:
    /// the count, 0 when nothing came in time, -1 at the end of the stream or after close.
    long readSlice(char* buffer, long length, unsigned int ms);
    /// Bytes a read gets without waiting (held ones included).
    long inWaiting();
    /// Writes all of data; throws what the device throws, and
    /// Base::Exception ErrNotOpen when it takes nothing.
    void write(const char* data, long length);
    /// Pushes written bytes out (a serial port waits until they are sent); nothing once closed.
    void flush();
    /// The device for an object that borrows it (a ZMODEM session, a T=1
    /// protocol) and uses it only inside exclusive: held bytes come first.
    IO::Device& forSessions() { return mSessionView; }
    /// Runs f with the device to itself: no read or write of another thread meanwhile.
    void exclusive(const std::function<void(IO::Device&)>& f);

private:
    /// The turn of a writer on a device that is not full-duplex: the read lock, taken fairly.
    std::unique_lock<std::mutex> readTurn();

    std::unique_ptr<IO::Device> mpDevice;
    std::string msLocator;
    const bool mbFullDuplex;
    const bool mbFile;               // a file's data ends where the file does (for now: it may grow)
    std::mutex mTurn;                // taken briefly before the read lock, so a waiting writer goes next
    std::mutex mReadLock;            // a read (and mHeld), or any use of a device that is not full-duplex
    std::mutex mWriteLock;           // a write
    InputBuffer mHeld;               // under mReadLock
    long mlChunk = FirstChunkBytes;  // the next read-ahead (under mReadLock)
    SessionDevice mSessionView;
    bool mbEnded = false;  // the stream ended (under mReadLock)
    std::atomic<bool> mbClosed{false};
};

}  // namespace PyVaronet
