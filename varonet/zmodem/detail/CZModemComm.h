#pragma once
// ZModem::CZModemComm: the ZMODEM core's byte link to a borrowed IO::Device.
//
// Writes go out whole (one device write per header or subpacket). In
// held-back mode a write is kept instead, so that the next subpacket can
// carry it in the same device write.
#include <varonet/base/ByteArray.h>
#include <varonet/base/Device.h>

namespace ZModem {

class CZModemComm {
public:
    /// device is borrowed: never opened, closed or deleted here.
    /// Most bytes one read takes from the device (the read buffer's bound).
    static constexpr std::size_t MaxRead = 256 * 1024;

    explicit CZModemComm(IO::Device* device);
    virtual ~CZModemComm() = default;
    CZModemComm(const CZModemComm&) = delete;
    CZModemComm& operator=(const CZModemComm&) = delete;

    /// Direct mode: clears the pending bytes and writes the first count bytes
    /// of data, repeating until all are out; 1 on success, 0 when the device
    /// throws or takes nothing. Held-back mode: keeps a copy as the pending
    /// bytes, writes nothing, returns 1.
    int write(const Base::ByteArray& data, int count);
    int write(const unsigned char* data, long count);
    /// Empties data; when the device has input within timeoutMs, appends
    /// everything it holds now, at most MaxRead bytes. Returns the number of
    /// bytes appended (0: nothing came).
    int read(Base::ByteArray& data, unsigned int timeoutMs);
    void setDirect(bool direct) { mbDirect = direct; }
    bool isDirect() const { return mbDirect; }
    /// The bytes held back by the last held-back write and their count.
    const Base::ByteArray& getPending(int& count) const {
        count = miPending;
        return mPending;
    }
    void clearPending() {
        mPending.clear();
        miPending = 0;
    }
    IO::Device* getDevice() const { return mpDevice; }

private:
    IO::Device* mpDevice;  // borrowed
    bool mbDirect = true;
    Base::ByteArray mPending;
    int miPending = 0;
};

}  // namespace ZModem
