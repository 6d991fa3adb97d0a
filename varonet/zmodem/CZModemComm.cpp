// ZModem::CZModemComm: the ZMODEM core's byte link to a borrowed IO::Device.
#include <varonet/zmodem/detail/CZModemComm.h>

#include <algorithm>
#include <exception>

namespace ZModem {

CZModemComm::CZModemComm(IO::Device* device) : mpDevice(device) {}

int CZModemComm::write(const Base::ByteArray& data, int count) {
    if (count < 0 || static_cast<std::size_t>(count) > data.size()) count = static_cast<int>(data.size());
    return write(data.data(), count);
}

int CZModemComm::write(const unsigned char* data, long count) {
    if (!mbDirect) {
        mPending = Base::ByteArray(data, static_cast<std::size_t>(count));
        miPending = static_cast<int>(count);
        return 1;
    }
    clearPending();
    try {
        long done = 0;
        while (done < count) {
            long n = mpDevice->write(reinterpret_cast<const char*>(data) + done, count - done);
            if (n <= 0) return 0;  // a device that takes nothing would loop forever
            done += n;
        }
    } catch (const std::exception&) {
        return 0;
    }
    return 1;
}

int CZModemComm::read(Base::ByteArray& data, unsigned int timeoutMs) {
    data.clear();
    try {
        if (!mpDevice->waitForData(timeoutMs)) return 0;
        // Take everything the device holds now: one read per chunk, never per
        // byte. Only a big chunk (a stream in full flow) is worth asking again
        // at once; after a short answer that would cost a call for nothing.
        for (int round = 0; round < 64 && data.size() < MaxRead; ++round) {
            long n = mpDevice->size();
            if (n <= 0 || mpDevice->isEOF()) break;
            n = std::min<long>(n, static_cast<long>(MaxRead - data.size()));
            std::size_t old = data.size();
            data.resize(old + static_cast<std::size_t>(n));
            long got = mpDevice->read(data.chars() + old, n);
            data.resize(old + static_cast<std::size_t>(got > 0 ? got : 0));
            if (got < 16 * 1024) break;
        }
    } catch (const std::exception&) {
        // a failing device delivers what came so far; nothing is a time-out
    }
    return static_cast<int>(data.size());
}

}  // namespace ZModem
