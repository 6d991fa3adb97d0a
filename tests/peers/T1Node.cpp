// The independent T=1 node: its own encoder, decoder and CRC, and the serving loop tests script.
#include "peers/T1Node.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace T1Peer {

std::uint16_t crc16(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
    }
    return static_cast<std::uint16_t>(~crc);
}

std::uint8_t informationPcb(int sequence, bool more) {
    return static_cast<std::uint8_t>((sequence ? 0x40 : 0) | (more ? 0x20 : 0));
}
std::uint8_t receiveReadyPcb(int sequence, int error) {
    return static_cast<std::uint8_t>(0x80 | (sequence ? 0x10 : 0) | (error & 0x0F));
}
std::uint8_t supervisoryPcb(bool response, int type) {
    return static_cast<std::uint8_t>((response ? 0xE0 : 0xC0) | (type & 0x1F));
}

Bytes encode(std::uint8_t nad, std::uint8_t pcb, const Bytes& inf, bool extended) {
    Bytes out{nad, pcb};
    if (extended) {
        out.push_back(0xFF);
        std::size_t n = inf.size();
        std::uint8_t digits[8];
        for (int i = 7; i >= 0; --i) {
            digits[i] = static_cast<std::uint8_t>(n % 10);
            n /= 10;
        }
        for (int i = 0; i < 8; i += 2) out.push_back(static_cast<std::uint8_t>(digits[i] << 4 | digits[i + 1]));
        out.insert(out.end(), inf.begin(), inf.end());
        std::uint16_t crc = crc16(inf.data(), inf.size());
        out.push_back(static_cast<std::uint8_t>(crc));
        out.push_back(static_cast<std::uint8_t>(crc >> 8));
    } else {
        if (inf.size() > 254) throw std::invalid_argument("short form holds at most 254 bytes");
        out.push_back(static_cast<std::uint8_t>(inf.size()));
        out.insert(out.end(), inf.begin(), inf.end());
        std::uint8_t lrc = 0;
        for (std::uint8_t b : out) lrc ^= b;
        out.push_back(lrc);
    }
    return out;
}

std::size_t blockLength(const std::uint8_t* data, std::size_t available) {
    if (available < 3) return 0;
    if (data[2] != 0xFF) return 3u + data[2] + 1u;
    if (available < 7) return 0;
    std::size_t n = 0;
    for (int i = 3; i < 7; ++i) n = n * 100 + (data[i] >> 4) * 10 + (data[i] & 15);
    return 7 + n + 2;
}

T1Node::T1Node(int fd, std::uint8_t nad) : miFd(fd), muNad(nad) {}

bool T1Node::readExact(std::uint8_t* out, std::size_t length, int firstMs, bool& silent) {
    std::size_t got = 0;
    while (got < length) {
        pollfd p{miFd, POLLIN, 0};
        int r = ::poll(&p, 1, firstMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            silent = true;
            return false;
        }
        ssize_t n = ::read(miFd, out + got, length - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
        firstMs = miCharMs;
    }
    return true;
}

void T1Node::discardInput() {
    std::uint8_t scratch[4096];
    pollfd p{miFd, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && ::read(miFd, scratch, sizeof scratch) > 0) {}
}

T1Node::ReadStatus T1Node::readBlock(WireBlock& block, int firstMs) {
    std::uint8_t header[7];
    bool silent = false;
    if (!readExact(header, 1, firstMs, silent)) return silent ? ReadStatus::Silence : ReadStatus::Closed;
    auto broken = [&] {
        ++miDamaged;
        discardInput();
        return ReadStatus::Broken;
    };
    if (!readExact(header + 1, 2, miCharMs, silent)) return silent ? broken() : ReadStatus::Closed;
    block = WireBlock{header[0], header[1], {}, header[2] == 0xFF};
    std::size_t n = header[2];
    if (block.extended) {
        if (!readExact(header + 3, 4, miCharMs, silent)) return silent ? broken() : ReadStatus::Closed;
        n = blockLength(header, 7) - 9;
    }
    block.inf.resize(n);
    if (n && !readExact(block.inf.data(), n, miCharMs, silent)) return silent ? broken() : ReadStatus::Closed;
    std::uint8_t check[2];
    if (!readExact(check, block.extended ? 2 : 1, miCharMs, silent)) return silent ? broken() : ReadStatus::Closed;
    if (block.extended) {
        std::uint16_t crc = crc16(block.inf.data(), n);
        if (check[0] != (crc & 0xFF) || check[1] != (crc >> 8)) return broken();
    } else {
        std::uint8_t lrc = header[0] ^ header[1] ^ header[2] ^ check[0];
        for (std::uint8_t b : block.inf) lrc ^= b;
        if (lrc != 0) return broken();
    }
    mvReceived.push_back(block);
    return ReadStatus::Block;
}

void T1Node::writeRaw(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(miFd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the host hung up; the test will see why
        done += static_cast<std::size_t>(n);
    }
}

void T1Node::writeBlock(std::uint8_t pcb, const Bytes& inf, bool extended) {
    mLastSent = encode(muNad, pcb, inf, extended);
    writeRaw(mLastSent);
}

bool T1Node::receiveFrame(Bytes& frame) {
    frame.clear();
    int expected = 0;
    bool inChain = false;
    for (int round = 0; round < 100000; ++round) {
        WireBlock block;
        switch (readBlock(block, miIdleMs)) {
            case ReadStatus::Silence:
            case ReadStatus::Closed: return false;
            case ReadStatus::Broken:
                writeBlock(receiveReadyPcb(expected, 1));
                inChain = true;
                continue;
            case ReadStatus::Block: break;
        }
        if (block.isInformation()) {
            if (block.sendSequence() == expected) {
                frame.insert(frame.end(), block.inf.begin(), block.inf.end());
                expected ^= 1;
                if (!block.more()) return true;
            }
            // In sequence: acknowledge. A repetition: our acknowledgement was lost, repeat it.
            writeBlock(receiveReadyPcb(expected, 0));
            inChain = true;
        } else if (block.isReceiveReady()) {
            // The host missed what we sent last: the acknowledgement inside a
            // chain, or the last block of the previous answer. With neither,
            // ask for the first block of the chain.
            const bool lastWasInformation = !mLastSent.empty() && (mLastSent[1] & 0x80) == 0;
            if (inChain || lastWasInformation) writeRaw(mLastSent);
            else writeBlock(receiveReadyPcb(expected, 0));
        } else if (!(block.pcb & 0x20) && (block.pcb & 0x1F) == 0) {
            Bytes pending = mLastSent;
            writeBlock(supervisoryPcb(true, 0));
            if (inChain) writeRaw(pending);
            else writeBlock(receiveReadyPcb(expected, 0));
        }
    }
    return false;
}

bool T1Node::sendFrame(const Bytes& data, std::size_t chunk, bool extended) {
    std::size_t offset = 0;
    int sequence = 0;
    for (int round = 0; round < 100000;) {
        const std::size_t n = std::min(chunk, data.size() - offset);
        const bool more = offset + n < data.size();
        Bytes inf(data.begin() + static_cast<std::ptrdiff_t>(offset),
                  data.begin() + static_cast<std::ptrdiff_t>(offset + n));
        writeBlock(informationPcb(sequence, more), inf, extended);
        if (!more) return true;
        // Wait for the acknowledgement of this block.
        for (bool confirmed = false; !confirmed && ++round < 100000;) {
            WireBlock block;
            switch (readBlock(block, miIdleMs)) {
                case ReadStatus::Closed: return false;
                case ReadStatus::Silence:
                    writeRaw(encode(muNad, informationPcb(sequence, more), inf, extended));
                    continue;
                case ReadStatus::Broken: continue;  // the host times out and tells us what it expects
                case ReadStatus::Block: break;
            }
            if (block.isReceiveReady()) {
                if (block.receiveSequence() != sequence) confirmed = true;
                else writeRaw(encode(muNad, informationPcb(sequence, more), inf, extended));
            } else if (block.isSupervisory() && !(block.pcb & 0x20) && (block.pcb & 0x1F) == 0) {
                writeBlock(supervisoryPcb(true, 0));
                writeBlock(informationPcb(sequence, more), inf, extended);
            }
        }
        offset += n;
        sequence ^= 1;
    }
    return false;
}

void T1Node::serve(const std::function<Bytes(const Bytes&)>& answer, std::size_t chunk, bool extended) {
    Bytes frame;
    while (receiveFrame(frame)) {
        if (!sendFrame(answer(frame), chunk, extended)) return;
    }
}

}  // namespace T1Peer
