#pragma once
// T1Node: an independent T=1 node for tests. It speaks the block protocol on
// a raw file descriptor with its own encoder, decoder and CRC, so it shares
// no code with the library's block classes and can catch their mistakes.
//
// Node behaviour (serve): receive a chain from the host, acknowledging each
// block; hand the frame to an answer function; send the answer as a chain,
// waiting for each acknowledgement. Damaged blocks are answered with an
// R-block carrying error 1, a RESYNCH request with a RESYNCH response.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace T1Peer {

using Bytes = std::vector<std::uint8_t>;

/// ISO/IEC 3309 CRC-16, bit by bit (reflected 0x1021, initial FFFF, final xor FFFF).
std::uint16_t crc16(const std::uint8_t* data, std::size_t length);

struct WireBlock {
    std::uint8_t nad = 0;
    std::uint8_t pcb = 0;
    Bytes inf;
    bool extended = false;

    bool isInformation() const { return (pcb & 0x80) == 0; }
    bool isReceiveReady() const { return (pcb & 0xC0) == 0x80; }
    bool isSupervisory() const { return (pcb & 0xC0) == 0xC0; }
    int sendSequence() const { return (pcb >> 6) & 1; }
    bool more() const { return (pcb & 0x20) != 0; }
    int receiveSequence() const { return (pcb >> 4) & 1; }
};

std::uint8_t informationPcb(int sequence, bool more);
std::uint8_t receiveReadyPcb(int sequence, int error);
std::uint8_t supervisoryPcb(bool response, int type);

/// The wire bytes of a block; extended selects the FF / BCD length / CRC form.
Bytes encode(std::uint8_t nad, std::uint8_t pcb, const Bytes& inf, bool extended = false);

/// Length in bytes of the block whose first bytes are given, or 0 when the
/// header is not complete yet (used to find block boundaries in a stream).
std::size_t blockLength(const std::uint8_t* data, std::size_t available);

class T1Node {
public:
    enum class ReadStatus { Block, Silence, Broken, Closed };

    /// fd stays the caller's. nad: the node byte this node writes.
    T1Node(int fd, std::uint8_t nad);

    /// Reads one block: Silence when no first byte came within firstMs,
    /// Broken on a time-out inside a block or a failed LRC/CRC (the rest of
    /// the input is then discarded), Closed at the end of the stream.
    ReadStatus readBlock(WireBlock& block, int firstMs);
    void writeRaw(const Bytes& bytes);
    void writeBlock(std::uint8_t pcb, const Bytes& inf = {}, bool extended = false);

    /// Receives one chain; false when the host fell silent or hung up.
    bool receiveFrame(Bytes& frame);
    /// Sends data as a chain of chunk-byte blocks; false when the host fell
    /// silent or hung up before confirming a block.
    bool sendFrame(const Bytes& data, std::size_t chunk, bool extended);
    /// Answers frames until the host hangs up or stays silent.
    void serve(const std::function<Bytes(const Bytes&)>& answer, std::size_t chunk = 254, bool extended = false);

    /// Every well-formed block read, in order, and how many arrived damaged.
    const std::vector<WireBlock>& received() const { return mvReceived; }
    int damagedCount() const { return miDamaged; }

private:
    bool readExact(std::uint8_t* out, std::size_t length, int firstMs, bool& silent);
    void discardInput();

    int miFd;
    std::uint8_t muNad;
    int miIdleMs = 2000;
    int miCharMs = 100;
    int miDamaged = 0;
    Bytes mLastSent;
    std::vector<WireBlock> mvReceived;
};

}  // namespace T1Peer
