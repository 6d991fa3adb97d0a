// T=1 blocks on the wire: encoding with the EDC, and reading one block within the waiting times.
#include <varonet/t1/Block.h>

#include <algorithm>
#include <memory>

#include <varonet/base/Errors.h>
#include <varonet/base/Exception.h>
#include <varonet/base/detail/Bcd.h>
#include <varonet/base/detail/Crc.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/InformationBlock.h>
#include <varonet/t1/ReceiveReadyBlock.h>
#include <varonet/t1/SupervisoryBlock.h>
#include <varonet/t1/T1Errors.h>

namespace T1 {

namespace {

constexpr std::uint8_t ExtendedMarker = 0xFF;

std::uint8_t readByte(IO::InputDevice* device, unsigned int characterWaitingTime) {
    if (characterWaitingTime != 0 && !device->waitForData(characterWaitingTime))
        throw Base::TimeoutException(".", __LINE__);
    char byte = 0;
    if (device->read(&byte, 1) != 1) throw Base::Exception(ErrShortBlockRead, ".", __LINE__);
    return static_cast<std::uint8_t>(byte);
}

// Appends count bytes to out. The array grows only by what the device has
// ready, so a hostile length never turns into a large allocation by itself.
void readBytes(IO::InputDevice* device, unsigned int characterWaitingTime, Base::ByteArray& out, std::size_t count) {
    std::size_t missing = count;
    while (missing > 0) {
        if (characterWaitingTime != 0 && !device->waitForData(characterWaitingTime))
            throw Base::TimeoutException(".", __LINE__);
        long ready = device->getReadableBytes();
        // A device that reports nothing ready is read one byte at a time: its
        // own read then waits (or ends the stream) instead of this loop spinning.
        long wanted =
            ready > 0 ? static_cast<long>(std::min<std::size_t>(static_cast<std::size_t>(ready), missing)) : 1;
        std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(wanted));
        if (device->read(out.chars() + at, wanted) != wanted) throw Base::Exception(ErrShortBlockRead, ".", __LINE__);
        missing -= static_cast<std::size_t>(wanted);
    }
}

}  // namespace

Block::Block(const NodeAddress& address, const Base::ByteArray& data) : mAddress(address), mData(data) {}
Block::Block(const NodeAddress& address, Base::ByteArray&& data) : mAddress(address), mData(std::move(data)) {}

Block::~Block() = default;

Base::String Block::nodeText() const { return Base::String::fromInteger(mAddress.getNode(), 16, 2); }

Base::ByteArray Block::encode() const {
    const std::uint8_t nad = mAddress.getNode();
    const std::uint8_t pcb = getPCB();
    const std::size_t length = mData.size();
    Base::ByteArray out;
    if (getWireSize() > MaxShortLength || length > MaxShortLength) {
        if (length > MaxExtendedLength) throw Base::Exception(Base::ErrBadArgument, ".", __LINE__);
        out.reserve(length + 9);
        out.append(nad);
        out.append(pcb);
        out.append(ExtendedMarker);
        out.append(Math::Bcd::fromInteger(length).pack(8));
        out.append(mData);
        Math::Crc crc(Math::Crc::Iso3309);
        crc.update(mData.data(), length);
        const std::uint32_t value = crc.getCRC();
        out.append(static_cast<std::uint8_t>(value & 0xFF));
        out.append(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    } else {
        const auto len = static_cast<std::uint8_t>(length);
        out.reserve(length + 4);
        out.append(nad);
        out.append(pcb);
        out.append(len);
        out.append(mData);
        out.append(mData.getEDC(static_cast<unsigned char>(len ^ nad ^ pcb)));
    }
    return out;
}

void Block::writeTo(IO::OutputDevice* device) const {
    const Base::ByteArray bytes = encode();
    if (device->write(bytes) != static_cast<long>(bytes.size()))
        throw Base::Exception(ErrShortBlockWrite, ".", __LINE__);
}

Block* Block::readBlock(IO::InputDevice* device, unsigned int blockWaitingTime, unsigned int characterWaitingTime) {
    if (blockWaitingTime != 0 && !device->waitForData(blockWaitingTime)) throw Base::TimeoutException(".", __LINE__);

    Base::ByteArray header;
    header.append(readByte(device, characterWaitingTime));
    header.append(readByte(device, characterWaitingTime));
    header.append(readByte(device, characterWaitingTime));
    const std::uint8_t nad = header[0];
    const std::uint8_t pcb = header[1];
    const std::uint8_t len = header[2];

    Base::ByteArray data;
    if (len == ExtendedMarker) {
        Base::ByteArray bcd;
        readBytes(device, characterWaitingTime, bcd, 4);
        header.append(bcd);
        bool ok = false;
        const int length = Math::Hex(bcd).asString().asInteger(10, &ok);
        // A nibble above 9 is a corrupted length: no block can follow it safely.
        if (!ok || length < 0) throw EDCException(header, ".", __LINE__);
        readBytes(device, characterWaitingTime, data, static_cast<std::size_t>(length));
        const std::uint8_t low = readByte(device, characterWaitingTime);
        const std::uint8_t high = readByte(device, characterWaitingTime);
        Math::Crc crc(Math::Crc::Iso3309);
        crc.update(data.data(), data.size());
        const std::uint32_t value = crc.getCRC();
        if (low != (value & 0xFF) || high != ((value >> 8) & 0xFF)) {
            Base::ByteArray failed = header;
            failed.append(data);
            failed.append(low);
            failed.append(high);
            throw EDCException(failed, ".", __LINE__);
        }
    } else {
        readBytes(device, characterWaitingTime, data, len);
        const std::uint8_t edc = readByte(device, characterWaitingTime);
        if (data.getEDC(static_cast<unsigned char>(edc ^ len ^ pcb ^ nad)) != 0) {
            Base::ByteArray failed = header;
            failed.append(data);
            failed.append(edc);
            throw EDCException(failed, ".", __LINE__);
        }
    }

    const NodeAddress address(nad);
    // The caller takes the block over.
    if ((pcb & 0x80) == 0) return std::make_unique<InformationBlock>(address, pcb, std::move(data)).release();
    if ((pcb & 0x40) != 0) return std::make_unique<SupervisoryBlock>(address, pcb, std::move(data)).release();
    return std::make_unique<ReceiveReadyBlock>(address, pcb, std::move(data)).release();
}

}  // namespace T1
