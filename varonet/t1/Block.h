#pragma once
// T1::Block: one block of the T=1 block protocol, and the reader that takes
// one block off a device.
//
// Short form (information field of at most 254 bytes):
//   NAD | PCB | LEN | INF (LEN bytes) | LRC (NAD ^ PCB ^ LEN ^ every INF byte)
// Extended form (an information block built with a size above 254, or any
// block whose data is longer than 254 bytes; recognised by LEN = FF):
//   NAD | PCB | FF | n as 8 packed BCD digits (4 bytes) | INF (n bytes) | CRC lo | CRC hi
// The CRC is the ISO/IEC 3309 CRC-16 (Math::Crc type 0) over INF only.
//
// PCB, classified in this order: bit 7 clear = I-block; bit 6 set = S-block;
// otherwise (80..BF) R-block.

#include <cstdint>

#include <varonet/base/ByteArray.h>
#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/t1/NodeAddress.h>

namespace T1 {

class VARONET_API Block {
public:
    enum EBlockType { Information = 0, ReceiveReady = 1, Supervisory = 2 };
    /// The longest information field of the short form.
    static constexpr std::uint32_t MaxShortLength = 254;
    /// The longest information field the four BCD bytes can announce.
    static constexpr std::uint32_t MaxExtendedLength = 99999999;

    virtual ~Block();
    /// Encodes the block and hands it to the device in one write. Throws
    /// Base::Exception ErrShortBlockWrite (3845) when the device takes fewer bytes,
    /// Base::Exception ErrBadArgument when the data exceeds MaxExtendedLength.
    virtual void writeTo(IO::OutputDevice* device) const;
    /// 0 information, 1 receive-ready, 2 supervisory (EBlockType).
    virtual unsigned int getType() const = 0;
    /// The block as readable text: the node in two hex digits, the block's
    /// fields, and a hex dump of its data.
    virtual Base::String toString() const = 0;
    /// The protocol control byte the block is written with.
    virtual std::uint8_t getPCB() const = 0;

    NodeAddress getAddress() const { return mAddress; }
    Base::ByteArray getData() const { return mData; }
    /// The bytes writeTo puts on the wire.
    Base::ByteArray encode() const;

    /// Reads one block and returns it as a new heap object owned by the caller.
    /// blockWaitingTime: ms to wait for the first byte; characterWaitingTime:
    /// ms to wait for each byte after that; 0 means "do not wait, read at once"
    /// (the device's own read then decides how long a byte may take).
    /// Throws Base::TimeoutException when a wait passes without a byte,
    /// Base::Exception ErrShortBlockRead (3844) when the device returns fewer bytes
    /// than asked for, T1::EDCException (3847) on an LRC or CRC mismatch or a
    /// length that is not BCD. Nothing is returned on failure; bytes already
    /// taken from the device are gone. The information field is collected as
    /// the bytes arrive, so an announced length costs no memory up front.
    static Block* readBlock(IO::InputDevice* device, unsigned int blockWaitingTime, unsigned int characterWaitingTime);

protected:
    Block(const NodeAddress& address, const Base::ByteArray& data);
    Block(const NodeAddress& address, Base::ByteArray&& data);
    Block(const Block&) = default;
    Block& operator=(const Block&) = default;

    /// Decides the length form: the extended form above MaxShortLength.
    virtual std::uint32_t getWireSize() const { return MaxShortLength; }
    /// "NN " with NN the node byte in hex.
    Base::String nodeText() const;

    NodeAddress mAddress;
    Base::ByteArray mData;
};

}  // namespace T1
