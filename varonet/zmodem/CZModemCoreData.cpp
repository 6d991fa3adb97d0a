// ZModem::CZModemCore: data subpackets, sent and received, and the ZFILE subpacket.
#include <atomic>
#include <cstring>

#include <varonet/base/detail/Crc.h>
#include <varonet/zmodem/CZModemCore.h>
#include <varonet/zmodem/detail/CZModemComm.h>
#include <varonet/zmodem/detail/CZModemFile.h>
#include <varonet/zmodem/detail/ZDLECodec.h>

namespace ZModem {

using E = ZModemErrors;

namespace {
// The subpacket encoders remember the last byte they emitted (for the
// CR-after-'@' rule) across calls and objects, shared by every session in the process.
std::atomic<unsigned char> gPrevBlock{0};

void crcBytes(std::uint32_t value, unsigned char* bytes) {
    for (int k = 0; k < 4; ++k) bytes[k] = static_cast<unsigned char>(value >> (8 * k));
}
}  // namespace

void CZModemCore::MakeDLEBlock(unsigned char c, unsigned char* block, int& index) {
    const unsigned char previous = gPrevBlock.load(std::memory_order_relaxed);
    const bool escape = ZDLECodec::needsEscape(c, previous, miEscapeAll != 0);
    const unsigned char last = escape ? static_cast<unsigned char>(c ^ 0x40) : c;
    gPrevBlock.store(last, std::memory_order_relaxed);
    if (index >= BlockSize) return;
    if (escape) {
        block[index++] = ZDLE;
        if (index < BlockSize) block[index] = last;
    } else {
        block[index] = c;
    }
}

int CZModemCore::encodeBlock(const unsigned char* s, int length, int index, unsigned char& previous, int limit) {
    if (!miEscapeAll && index + 2 * length <= limit)
        return index +
               static_cast<int>(ZDLECodec::encode(s, static_cast<std::size_t>(length), mBlock + index, previous));
    // Byte by byte, storing nothing past the limit: an encoding that does not
    // fit is then refused by its length.
    for (int i = 0; i < length; ++i) {
        const bool escape = ZDLECodec::needsEscape(s[i], previous, miEscapeAll != 0);
        previous = escape ? static_cast<unsigned char>(s[i] ^ 0x40) : s[i];
        if (index + (escape ? 2 : 1) > limit) {
            index += escape ? 2 : 1;
            continue;
        }
        if (escape) mBlock[index++] = ZDLE;
        mBlock[index++] = previous;
    }
    return index;
}

int CZModemCore::writeSubpacket(const unsigned char* data, int length, unsigned char frameEnd, int limit) {
    if (length < 0) length = 0;
    // A held-back header goes in front: header and subpacket leave in one write.
    int pending = 0;
    const Base::ByteArray& held = mpComm->getPending(pending);
    if (pending > 0) std::memcpy(mBlock, held.data(), static_cast<std::size_t>(pending));
    unsigned char previous = gPrevBlock.load(std::memory_order_relaxed);
    int index = encodeBlock(data, length, pending, previous, pending + limit);
    Math::Crc crc(Math::Crc::Crc32);
    crc.update(data, static_cast<std::size_t>(length));
    crc.update(frameEnd);
    if (index - pending + 2 + 8 <= limit) {
        mBlock[index++] = ZDLE;
        mBlock[index++] = frameEnd;
        // The CRC bytes go through the escaper like data (least significant first).
        unsigned char bytes[4];
        crcBytes(crc.getCRC(), bytes);
        index = encodeBlock(bytes, 4, index, previous, pending + limit);
    } else {
        index = pending + limit + 1;
    }
    gPrevBlock.store(previous, std::memory_order_relaxed);
    // An encoded form that did not fit the block buffer would go out corrupt.
    if (index - pending > limit) return E::ErrDataWrite;
    if (!mpComm->write(mBlock, index)) return E::ErrDataWrite;
    if (debugging())
        debug("sendData " + Base::String::fromInteger(length) + " (" + Base::String::fromInteger(index - pending) +
              ") Bytes\n");
    return isAborted() ? E::ErrAborted : 0;
}

int CZModemCore::sendData32(const unsigned char* data, int length, unsigned char frameEnd) {
    return writeSubpacket(data, length, frameEnd, BlockSize);
}

int CZModemCore::sendStreamData32(const unsigned char* data, int length, unsigned char frameEnd) {
    if (length > MaxStreamSubpacket) return E::ErrDataWrite;
    return writeSubpacket(data, length, frameEnd, 2 * MaxStreamSubpacket + 16);
}

int CZModemCore::sendData(int kind) {
    unsigned char frameEnd = kind == KindZCRCE ? ZCRCE : kind == KindZCRCG ? ZCRCG : kind == KindZCRCW ? ZCRCW : ZCRCQ;
    int length = miDataLength;
    if (length > static_cast<int>(mData.size())) length = static_cast<int>(mData.size());
    int r = sendData32(mData.data(), length, frameEnd);
    if (r == 0) miPosition += length;
    return r;
}

void CZModemCore::decodeFast() {
    if (miEscapeAll || muReadLeft == 0) return;
    // One subpacket (1 KiB of file data, escaped) fits a step; the data buffer
    // grows by at most what was actually received. Decoded into scratch space
    // first: growing the data buffer by a whole step would clear bytes that
    // are then mostly given back.
    const std::size_t n = muReadLeft < static_cast<std::size_t>(BlockSize) ? muReadLeft : BlockSize;
    const ZDLECodec::Decoded d = ZDLECodec::decode(mReadBuffer.data() + muReadPos, n, mDecoded);
    if (d.produced) {
        mData.append(mDecoded, d.produced);
        muCurrentCh = mDecoded[d.produced - 1];
    }
    muReadPos += d.consumed;
    muReadLeft -= d.consumed;
}

int CZModemCore::takeSubpacketEnd(std::size_t start) {
    if (mcReceivedFormat == ZHEX || miEscapeAll || muReadLeft < 6) return 0;
    const unsigned char* p = mReadBuffer.data() + muReadPos;
    if (p[0] != ZDLE || p[1] < ZCRCE || p[1] > ZCRCW) return 0;
    std::size_t i = 2;
    std::uint32_t received = 0;
    for (int k = 0; k < 4; ++k) {
        if (i >= muReadLeft) return 0;
        unsigned char b = p[i];
        if (ZDLECodec::isPlain(b)) {
            ++i;
        } else if (b == ZDLE && i + 1 < muReadLeft && ZDLECodec::unescaped(p[i + 1]) >= 0) {
            b = static_cast<unsigned char>(ZDLECodec::unescaped(p[i + 1]));
            i += 2;
        } else {
            return 0;
        }
        received |= static_cast<std::uint32_t>(b) << (8 * k);
    }
    const unsigned char frameEnd = p[1];
    muReadPos += i;
    muReadLeft -= i;
    Math::Crc crc(Math::Crc::Crc32);
    crc.update(mData.data() + start, mData.size() - start);
    crc.update(frameEnd);
    muCurrentCh = frameEnd;
    if (crc.getCRC() != received) return E::ErrBinCrc;
    miPosition += static_cast<int>(mData.size() - start);
    return E::ResultFrameEnd + frameEnd;
}

int CZModemCore::checkSubpacket(std::size_t start, unsigned char frameEnd) {
    const int unit = byteTimeout();
    // A subpacket after a hex header carries CRC-16 (high byte first): peers
    // send ZSINIT as a hex header. This side never does.
    const bool crc16 = mcReceivedFormat == ZHEX;
    std::uint32_t received = 0;
    for (int k = 0; k < (crc16 ? 2 : 4); ++k) {
        if (getNextDLECh(unit) != 0) return E::ErrProtocol;
        const std::uint32_t b = muCurrentCh & 0xFF;
        received = crc16 ? (received << 8) | b : received | b << (8 * k);
    }
    // The CRC covers the decoded bytes; one pass over them is faster than per byte.
    Math::Crc crc(crc16 ? Math::Crc::Xmodem : Math::Crc::Crc32);
    crc.update(mData.data() + start, mData.size() - start);
    crc.update(frameEnd);
    if (crc.getCRC() != received) return E::ErrBinCrc;
    miPosition += static_cast<int>(mData.size() - start);
    muCurrentCh = frameEnd;
    return E::ResultFrameEnd + frameEnd;
}

int CZModemCore::getData() {
    const int unit = byteTimeout();
    const std::size_t start = mData.size();
    for (;;) {
        decodeFast();
        // Memory follows what a sane peer sends: an endless subpacket is damaged.
        if (mData.size() - start > MaxSubpacket) return E::ErrProtocol;
        // The usual end, already in the read buffer, is decoded without the character readers.
        if (int r = takeSubpacketEnd(start)) return r;
        int r = getNextDLECh(unit);
        if (r == 0) {
            mData.append(static_cast<unsigned char>(muCurrentCh));
            if (mData.size() - start > MaxSubpacket) return E::ErrProtocol;
            continue;
        }
        if (r != E::ResultSpecial) return r;
        if (muCurrentCh == ZDLE) return E::ErrProtocol;  // cancel sequence
        return checkSubpacket(start, static_cast<unsigned char>(muCurrentCh));
    }
}

int CZModemCore::sendFILEINFO() {
    Base::ByteArray info;
    int size = 0;
    mpFile->getFileInfo(info, size);
    Math::Crc crc(Math::Crc::Crc32);
    crc.update(info.data(), info.size());
    crc.update(ZCRCW);
    const std::uint32_t value = crc.getCRC();
    if (2 * info.size() + 2 + 8 > static_cast<std::size_t>(BlockSize)) return E::ErrDataWrite;
    // Through the escaper: a plain name, NUL and digits come out unchanged, but
    // a receiver that asked for escaped control characters drops a bare NUL.
    unsigned char previous = gPrevBlock.load(std::memory_order_relaxed);
    int index = encodeBlock(info.data(), static_cast<int>(info.size()), 0, previous, BlockSize);
    gPrevBlock.store(previous, std::memory_order_relaxed);
    mBlock[index++] = ZDLE;
    mBlock[index++] = ZCRCW;
    for (int k = 0; k < 4; ++k) {
        MakeDLEBlock(static_cast<unsigned char>(value >> (8 * k)), mBlock, index);
        ++index;
    }
    if (!mpComm->write(mBlock, index)) return E::ErrDataWrite;
    debug("send FileInfo\n");
    return 0;
}

}  // namespace ZModem
