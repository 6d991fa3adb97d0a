#pragma once
// ZModem::CZModemCore: ZMODEM framing over a borrowed device.
//
// Hex headers (ZHEX, CRC-16/XMODEM, lowercase digits) and binary headers with
// CRC-32 (ZBIN32), ZDLE escaping in both directions, and data subpackets with
// CRC-32. Input is read from the device in whole chunks into a read buffer and
// consumed from there; every header and every subpacket leaves in one write.
//
// Hex header on the wire (21 bytes, 20 for ZACK and ZFIN which carry no XON):
//   '*' '*' ZDLE 'B' tt p0p0 p1p1 p2p2 p3p3 cccc CR LF [XON]
// Binary-32 header:
//   '*' ZDLE 'C' type p0 p1 p2 p3 crc0 crc1 crc2 crc3      (each after '*ZC' escaped)
// Data subpacket:
//   data... ZDLE end crc0 crc1 crc2 crc3    end: 'h' ZCRCE 'i' ZCRCG 'j' ZCRCQ 'k' ZCRCW
//
// The framing operations are for the sessions (ZModem::CZModem) and are
// protected; an application uses the sessions. Every operation returns 0 or a
// code of ZModemErrors; none throws.
#include <atomic>
#include <cstdint>
#include <memory>

#include <varonet/base/ByteArray.h>
#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/zmodem/ZModemErrors.h>

namespace ZModem {

class CZModemComm;
class CZModemFile;

/// Everything a copy of a ZMODEM core carries over: the session state and the
/// settings. Copied whole with = default, so that a field added here is never
/// left out of a copy.
struct CZModemCoreFields {
    int miTimeoutUnit = 600;  // tenths of a second
    int miEscapeAll = 0;
    int miFileSize = 0;
    unsigned int muCurrentCh = 0;
    bool mbHeaderComplete = false;
    unsigned char mcHeaderFormat = 0;
    int miHeaderType = 0;
    unsigned char mHeaderData[4] = {0, 0, 0, 0};
    int miFrameEndKind = 0;
    Base::ByteArray mData;
    int miPosition = 0;
    int miDataLength = 0;
    unsigned char mcReceiverFlags = 0;
    bool mbSkip = false;
    int miBlockSize = 8192;
    int miRequestedBlockSize = 0;
    Base::ByteArray mReadBuffer;
    std::size_t muReadPos = 0;
    std::size_t muReadLeft = 0;
    unsigned char mcReceivedFormat = 'C';  // format of the last header getZMHeader read
    /// Character time-out inside a header body or a subpacket, and after
    /// bytes that are no header, in ms; 0: the unit time-out. File sessions
    /// set it short: a pause there means the rest was lost on the line. Once
    /// round trips were measured, the gap follows them (never longer than this).
    int miByteGapMs = 0;
    long mlRoundTripUs = -1;       // smoothed round trip of the session; -1: none measured yet
    long mlRoundTripVarUs = 0;     // ... and its mean deviation
    bool mbLineDamaged = false;    // the session has seen damage: its time-outs follow the round trips
    bool mbAnswerLines = false;    // the peer sends only hex headers (we are the sender)
    bool mbHeaderSilence = false;  // the last getZMHeader got no character at all
    bool mbStrayZCRCW = false;     // ... or passed the end of a ZCRCW subpacket that had no header

    bool operator==(const CZModemCoreFields&) const = default;
};

class VARONET_API CZModemCore : protected CZModemCoreFields {
public:
    // Frame constants.
    static constexpr unsigned char ZPAD = '*';
    static constexpr unsigned char ZDLE = 0x18;
    static constexpr unsigned char ZHEX = 'B';
    static constexpr unsigned char ZBIN32 = 'C';
    static constexpr unsigned char ZCRCE = 'h';
    static constexpr unsigned char ZCRCG = 'i';
    static constexpr unsigned char ZCRCQ = 'j';
    static constexpr unsigned char ZCRCW = 'k';
    static constexpr unsigned char ZRUB0 = 'l';
    static constexpr unsigned char ZRUB1 = 'm';
    static constexpr unsigned char XON = 0x11;
    static constexpr unsigned char XOFF = 0x13;
    // Frame types.
    enum EFrameType {
        ZRQINIT = 0,
        ZRINIT,
        ZSINIT,
        ZACK,
        ZFILE,
        ZSKIP,
        ZNAK,
        ZABORT,
        ZFIN,
        ZRPOS,
        ZDATA,
        ZEOF,
        ZFERR,
        ZCRC,
        ZCHALLENGE,
        ZCOMPL,
        ZCAN,
        ZFREECNT,
        ZCOMMAND,
        ZSTDERR
    };
    // Frame-end kinds of the next data subpacket.
    enum EFrameEndKind { KindZCRCE = 0, KindZCRCG = 1, KindZCRCW = 2, KindZCRCQ = 3 };
    // ZRINIT flags (ZF0).
    static constexpr unsigned char CANFDX = 0x01, CANOVIO = 0x02, CANFC32 = 0x20, ESCCTL = 0x40;
    /// Size of the block buffer a subpacket of the classic sessions is encoded in.
    static constexpr int BlockSize = 4096;
    /// Longest subpacket getData accepts (no sender sends more than 8 KiB).
    static constexpr std::size_t MaxSubpacket = 64 * 1024;
    /// Longest subpacket a streaming sender sends.
    static constexpr int MaxStreamSubpacket = 8192;
    /// Least byte gap a file session waits, however fast the line.
    static constexpr int MinByteGapMs = 30;

    /// device is borrowed. A null device throws Base::Exception with code 0.
    /// abort is the initial abort flag.
    CZModemCore(IO::Device* device, bool abort);
    virtual ~CZModemCore();
    /// A copy talks to the same device with a comm and a file object of its
    /// own; every other field is copied (an open file is not shared).
    CZModemCore(const CZModemCore& other);
    CZModemCore& operator=(const CZModemCore& other);

    /// True at once when bytes are left in the read buffer; otherwise refills
    /// it, waiting at most ms, and tells whether anything came.
    bool waitForData(unsigned int ms);
    /// Bytes left in the read buffer, or else the device's size.
    long getSize();
    /// Clears the per-session state (header, data, position, skip flag, file
    /// object). Keeps the time-out unit, the escape-all flag and the receiver flags.
    void ResetAll();
    /// The name of a frame type ("ZRPOS"), "unbekannt" for an unknown one.
    static Base::String GetHeaderType(int type);

    /// Tenths of a second a session waits inside an exchange.
    int getTimeoutUnit() const { return miTimeoutUnit; }
    void setTimeoutUnit(int unit) { miTimeoutUnit = unit; }
    /// Nonzero: every control character is escaped on sending (and dropped
    /// when it arrives unescaped); a sender announces it with ZSINIT.
    int getEscapeAll() const { return miEscapeAll; }
    void setEscapeAll(int escapeAll) { miEscapeAll = escapeAll; }
    bool isAborted() const { return mbAbort.load(std::memory_order_relaxed); }

protected:
    // Character input. Each returns 0 with the byte in the current character,
    // or an error code; getNextDLECh also ResultSpecial (frame end or cancel).
    int getNextCh(int timeoutMs);
    int getNextHexCh(int timeoutMs);
    int getNextDLECh(int timeoutMs);
    /// True when input is there to read now (nothing is waited for).
    bool inputWaiting();

    // Escaping on sending.
    /// Escapes c into out (two bytes room); true when two bytes were produced.
    bool putDLEChar(unsigned char c, unsigned char* out);
    /// Puts c (escaped when needed) into block at index; advances index past the
    /// first byte when it escapes (the caller advances past the last). Stores
    /// nothing once index has passed the block size.
    void MakeDLEBlock(unsigned char c, unsigned char* block, int& index);
    /// Writes c escaped; ErrAborted when the abort flag is set, else 0.
    int sendDLEChar(unsigned char c);

    // Headers: the current header fields are what is sent and what was received.
    int sendHeader();
    int sendHexHeader();
    int sendBin32Header();
    /// Finds and reads the next header, the first character within timeoutMs.
    /// 0 with a complete header; ErrCancelled when the peer's cancel sequence
    /// (five CAN) came instead; else ErrLinkTimeout (every other header failure).
    /// isHeaderSilence tells a wait that got nothing from one that got bytes.
    int getZMHeader(int timeoutMs);
    bool isHeaderSilence() const { return mbHeaderSilence; }
    /// The last getZMHeader passed a ZCRCW subpacket end whose header was lost
    /// (only with a byte gap set: file sessions).
    bool sawStrayZCRCW() const { return mbStrayZCRCW; }
    void setByteGap(int ms) { miByteGapMs = ms; }
    /// The peer answers with hex headers only (the sessions that send set
    /// this): a line end among bytes that are no header ends a damaged answer
    /// at once, without waiting for more.
    void setAnswerLines(bool lines) { mbAnswerLines = lines; }
    int getHexHeader();
    int getBin32Header();
    /// Two lowercase hex digits of c into out.
    static void putHexChar(unsigned char c, unsigned char* out);

    // Round trips and damage: the file sessions' time-outs follow the line.
    /// Takes one measured round trip (a frame sent to its answer) into the
    /// session's estimate.
    void noteRoundTrip(long microseconds);
    /// Something arrived damaged or got lost: from now on the session's
    /// time-outs follow the round trips (adaptiveTimeout).
    void noteDamage() { mbLineDamaged = true; }
    bool isLineDamaged() const { return mbLineDamaged; }
    /// Forgets the round trips and the damage (a session starts).
    void resetLineState() {
        mlRoundTripUs = -1;
        mlRoundTripVarUs = 0;
        mbLineDamaged = false;
    }
    /// How long an answer may take on this line, from the round trips
    /// measured (smoothed round trip plus four deviations, in ms), within
    /// [floorMs, ceilingMs]; ceilingMs while none was measured.
    int roundTripTimeout(int floorMs, int ceilingMs) const;
    /// ceilingMs on a line that has shown no damage (every byte on the wire
    /// then comes when the fixed time-outs say); after damage, roundTripTimeout.
    int adaptiveTimeout(int floorMs, int ceilingMs) const {
        return mbLineDamaged ? roundTripTimeout(floorMs, ceilingMs) : ceilingMs;
    }

    // Data subpackets.
    /// Encodes length bytes of data with the frame end, CRC-32, and writes it
    /// (after any held-back header) in one write. An encoded form longer than
    /// the block buffer is refused. 0, ErrDataWrite or ErrAborted.
    int sendData32(const unsigned char* data, int length, unsigned char frameEnd);
    /// The same for a subpacket of up to MaxStreamSubpacket bytes.
    int sendStreamData32(const unsigned char* data, int length, unsigned char frameEnd);
    /// Sends the data-length first bytes of the data buffer with the frame end of
    /// kind (0 ZCRCE, 1 ZCRCG, 2 ZCRCW, other ZCRCQ); on success position += length.
    int sendData(int kind);
    /// Reads one subpacket, appending its bytes to the data buffer. Returns
    /// ResultFrameEnd + frame-end character, or an error code. The subpacket
    /// carries CRC-32, or CRC-16 when the last header received was a hex header.
    /// One longer than MaxSubpacket data bytes is refused (ErrProtocol) as damaged.
    int getData();
    /// Sends the ZFILE subpacket of the file object, ending in ZCRCW.
    int sendFILEINFO();

    // Header shorthands.
    int sendZRQInit_X(int command);
    int sendZRINIT(int escape);
    /// Sets a binary-32 ZSINIT header with data 0 (sends nothing).
    int sendZSINIT();
    int sendZACK_X(const unsigned char* data);
    int sendZACK(long position);
    int sendZNAK();
    int sendZFILE();
    int sendZSKIP();
    int sendZRPOS(long position);
    int sendZDATA(long position);
    int sendZEOF(long position);
    int sendZFIN();

    // Raw strings.
    int sendrz();
    int sendOO();
    int getOO();
    int sendChar();
    int sendChar(unsigned char c);

    // State access (the sessions and tests use these).
    unsigned int getCurrentCh() const { return muCurrentCh; }
    bool isHeaderComplete() const { return mbHeaderComplete; }
    unsigned char getHeaderFormat() const { return mcHeaderFormat; }
    /// Format of the last header received; decides the CRC of the subpackets after it.
    void setReceivedFormat(unsigned char format) { mcReceivedFormat = format; }
    int getHeaderType() const { return miHeaderType; }
    const unsigned char* getHeaderData() const { return mHeaderData; }
    /// Sets the header fields that the next sendHeader sends.
    void setHeader(unsigned char format, int type, const unsigned char* data);
    /// The header data as a position (ZP0 least significant).
    long getHeaderPosition() const;
    Base::ByteArray& getDataBuffer() { return mData; }
    long getPosition() const { return miPosition; }
    void setPosition(long position) { miPosition = static_cast<int>(position); }
    int getDataLength() const { return miDataLength; }
    void setDataLength(int length) { miDataLength = length; }
    unsigned char getReceiverFlags() const { return mcReceiverFlags; }
    int getBlockSize() const { return miBlockSize; }
    int getFileSize() const { return miFileSize; }
    /// The file layer and the link, owned by the core (the pointers are borrowed).
    CZModemFile* getFile() const { return mpFile.get(); }
    CZModemComm* getComm() const { return mpComm.get(); }
    /// The state a copy carries over.
    const CZModemCoreFields& fields() const { return *this; }

    /// Emits a debug line.
    static void debug(const Base::String& line);
    static bool debugging();
    void setAbort() { mbAbort.store(true, std::memory_order_relaxed); }
    /// The one body of the header shorthands: sets the header (data null: keeps
    /// the header data) and sends it.
    int sendShortHeader(unsigned char format, int type, const unsigned char* data);
    /// Sends a header whose data is position, least significant byte first.
    int sendPositionHeader(unsigned char format, int type, long position);

    std::atomic<bool> mbAbort;
    std::unique_ptr<CZModemComm> mpComm;
    std::unique_ptr<CZModemFile> mpFile;

private:
    int refill(int timeoutMs);
    /// The character time-out inside a header body or a subpacket.
    int byteTimeout() const {
        return miByteGapMs > 0 ? adaptiveTimeout(MinByteGapMs, miByteGapMs) : miTimeoutUnit * 100;
    }
    struct HeaderSearch;
    /// Skips the bytes before a header and its run of '*' (counted in pads):
    /// 0 with the ZDLE after them current; -1 when no ZDLE follows; or a code.
    int findHeaderStart(HeaderSearch& search, int& pads);
    /// Skips bytes of the read buffer that cannot start or end anything the
    /// header search looks for; returns how many.
    std::size_t skipPlain();
    /// Reads and drops the rest of a damaged hex header, up to its line end.
    void skipHexRest();
    /// Decodes plain bytes and simple escapes straight out of the read buffer
    /// into the data buffer; stops before anything that needs getNextDLECh.
    void decodeFast();
    /// The usual end of a subpacket (ZDLE, frame end, four plain or simply
    /// escaped CRC bytes) when it is whole in the read buffer: the getData
    /// result; 0 when the byte path must read it.
    int takeSubpacketEnd(std::size_t start);
    /// Reads the CRC after the frame end and checks the subpacket from start.
    int checkSubpacket(std::size_t start, unsigned char frameEnd);
    /// Encodes data into the block buffer from index (nothing is stored past
    /// limit); returns the new index.
    int encodeBlock(const unsigned char* data, int length, int index, unsigned char& previous, int limit);
    /// Encodes a subpacket into the block buffer and writes it after any
    /// held-back header; limit is the longest encoding allowed.
    int writeSubpacket(const unsigned char* data, int length, unsigned char frameEnd, int limit);
    int writeHeaderBytes(const unsigned char* bytes, int count);

    static constexpr int BlockRoom = 2 * MaxStreamSubpacket + 128;
    unsigned char mBlock[BlockRoom];
    unsigned char mDecoded[BlockSize + 64];  // decodeFast's output before it joins the data buffer
};

}  // namespace ZModem
