// ZModem::ZModemDevice: an IO::Device whose bytes travel as ZMODEM data.
#include <varonet/zmodem/ZModemDevice.h>

#include <varonet/base/Exception.h>
#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/ZModemErrors.h>

namespace ZModem {

ZModemDevice::ZModemDevice(IO::Device* device)
    : IO::UnreliableDevice(0), mpSession(std::make_unique<CZModem>(device)),
      mpReader(std::make_unique<Base::MemoryDevice>(&mReceive)) {}

ZModemDevice::~ZModemDevice() = default;

long ZModemDevice::size() { return (mpReader->getLength() - mpReader->getPosition()) + mpSession->getSize(); }

bool ZModemDevice::waitForData(unsigned int ms) {
    if (size() > 0) return true;
    return mpSession->waitForData(ms);
}

long ZModemDevice::readInternal(char* buffer, long length) {
    if (mpReader->getPosition() == mpReader->getLength()) {
        mpReader.reset();
        mReceive.clear();
        mpReader = std::make_unique<Base::MemoryDevice>(&mReceive);
        mpSession->rec_z(mpReader.get());  // what arrived is what there is to read
        mpReader->seek(0);
    }
    long left = mpReader->getLength() - mpReader->getPosition();
    long n = length < left ? length : left;
    if (n <= 0) return 0;
    return mpReader->read(buffer, n);
}

long ZModemDevice::write(const char* buffer, long length) {
    Base::MemoryDevice message(buffer, length);
    int r = mpSession->sendez(&message);
    if (r != 0)
        throw Base::Exception(ZModemErrors::ErrDeviceSession, ".", __LINE__,
                              "ZMODEM send failed: 0x" + Base::String::fromUnsigned(static_cast<unsigned int>(r), 16));
    return message.getLength();
}

}  // namespace ZModem
