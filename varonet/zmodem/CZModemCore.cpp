// ZModem::CZModemCore: the byte link, character input and headers.
#include <varonet/zmodem/CZModemCore.h>

#include <algorithm>
#include <cstring>

#include <varonet/base/Exception.h>
#include <varonet/base/detail/Crc.h>
#include <varonet/base/detail/HexDump.h>
#include <varonet/zmodem/ZModemDebugSink.h>
#include <varonet/zmodem/detail/CZModemComm.h>
#include <varonet/zmodem/detail/CZModemFile.h>
#include <varonet/zmodem/detail/ZDLECodec.h>

namespace ZModem {

using E = ZModemErrors;

namespace {

// putDLEChar remembers the last byte it emitted (for the CR-after-'@' rule)
// across calls and objects. Atomic so that sessions on several threads stay
// well-defined; they still influence each other's CR escaping, as documented.
std::atomic<unsigned char> gPrevPut{0};

// Longest run of bytes getZMHeader skips while looking for a header: stale
// stream data after a repositioning may precede the next header.
constexpr long MaxHeaderGarbage = 4L * 1024 * 1024;

inline bool isXonXoff(unsigned int c) { return c == 0x11 || c == 0x13 || c == 0x91 || c == 0x93; }

const char* const kTypeNames[] = {"ZRQINIT",    "ZRINIT", "ZSINIT", "ZACK",     "ZFILE",    "ZSKIP",  "ZNAK",
                                  "ZABORT",     "ZFIN",   "ZRPOS",  "ZDATA",    "ZEOF",     "ZFERR",  "ZCRC",
                                  "ZCHALLENGE", "ZCOMPL", "ZCAN",   "ZFREECNT", "ZCOMMAND", "ZSTDERR"};
}  // namespace

CZModemCore::CZModemCore(IO::Device* device, bool abort) : mbAbort(abort) {
    if (device == nullptr) throw Base::Exception(0, ".", __LINE__, "no device");
    mpComm = std::make_unique<CZModemComm>(device);
    mpFile = std::make_unique<CZModemFile>();
    std::memset(mBlock, 0, sizeof(mBlock));
}

CZModemCore::CZModemCore(const CZModemCore& other)
    : CZModemCoreFields(other), mbAbort(other.isAborted()),
      mpComm(std::make_unique<CZModemComm>(other.mpComm->getDevice())), mpFile(std::make_unique<CZModemFile>()) {
    std::memset(mBlock, 0, sizeof(mBlock));
}

CZModemCore& CZModemCore::operator=(const CZModemCore& other) {
    if (this == &other) return *this;
    auto comm = std::make_unique<CZModemComm>(other.mpComm->getDevice());
    mpComm = std::move(comm);
    mpFile->reset();
    mbAbort.store(other.isAborted(), std::memory_order_relaxed);
    static_cast<CZModemCoreFields&>(*this) = other;
    return *this;
}

CZModemCore::~CZModemCore() = default;

void CZModemCore::debug(const Base::String& line) { ZModemDebugSink::emit(line); }
bool CZModemCore::debugging() { return ZModemDebugSink::isActive(); }

bool CZModemCore::waitForData(unsigned int ms) {
    if (muReadLeft > 0) return true;
    return refill(static_cast<int>(ms)) > 0;
}

long CZModemCore::getSize() {
    if (muReadLeft > 0) return static_cast<long>(muReadLeft);
    try {
        return mpComm->getDevice()->size();
    } catch (const std::exception&) {
        return 0;
    }
}

void CZModemCore::ResetAll() {
    muCurrentCh = 0;
    mbHeaderComplete = false;
    mcHeaderFormat = 0;
    miHeaderType = 0;
    std::memset(mHeaderData, 0, sizeof(mHeaderData));
    miFrameEndKind = 0;
    mData.clear();
    miPosition = 0;
    miDataLength = 0;
    mbSkip = false;
    mpFile->reset();
}

int CZModemCore::refill(int timeoutMs) {
    unsigned int t = timeoutMs <= 0 ? 1u : static_cast<unsigned int>(timeoutMs);
    int n = mpComm->read(mReadBuffer, t);
    muReadPos = 0;
    muReadLeft = static_cast<std::size_t>(n);
    return n;
}

void CZModemCore::noteRoundTrip(long microseconds) {
    if (microseconds < 0) return;
    if (mlRoundTripUs < 0) {
        mlRoundTripUs = microseconds;
        mlRoundTripVarUs = microseconds / 2;
        return;
    }
    // The smoothing of TCP's retransmission timer: gains 1/8 and 1/4.
    long deviation = microseconds > mlRoundTripUs ? microseconds - mlRoundTripUs : mlRoundTripUs - microseconds;
    mlRoundTripVarUs += (deviation - mlRoundTripVarUs) / 4;
    mlRoundTripUs += (microseconds - mlRoundTripUs) / 8;
}

int CZModemCore::roundTripTimeout(int floorMs, int ceilingMs) const {
    if (mlRoundTripUs < 0) return ceilingMs;
    long ms = (mlRoundTripUs + 4 * mlRoundTripVarUs + 999) / 1000;
    return static_cast<int>(std::clamp<long>(ms, floorMs, ceilingMs));
}

// ---------------------------------------------------------------- input

int CZModemCore::getNextCh(int timeoutMs) {
    if (muReadLeft == 0) {
        if (refill(timeoutMs) == 0) {
            debug("Timeout getNextCh\n");
            return E::ErrLinkTimeout;
        }
        if (debugging()) {
            debug("reading from device\n");
            debug(Base::HexDump::dump(mReadBuffer));
        }
    }
    muCurrentCh = mReadBuffer[muReadPos++];
    --muReadLeft;
    return 0;
}

bool CZModemCore::inputWaiting() {
    for (;;) {
        // Flow control is nothing to answer: XON and XOFF in front are passed over.
        while (muReadLeft > 0 && isXonXoff(mReadBuffer[muReadPos])) {
            ++muReadPos;
            --muReadLeft;
        }
        if (muReadLeft > 0) return true;
        const int n = mpComm->read(mReadBuffer, 0);
        muReadPos = 0;
        muReadLeft = static_cast<std::size_t>(n);
        if (n == 0) return false;
    }
}

int CZModemCore::getNextHexCh(int timeoutMs) {
    unsigned int value = 0;
    for (int k = 0; k < 2; ++k) {
        int r = getNextCh(timeoutMs);
        if (r) return r;
        unsigned int c = muCurrentCh;
        unsigned int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return E::ErrHexDigit;  // uppercase too: this side only speaks lowercase
        value = (value << 4) | digit;
    }
    muCurrentCh = value;
    return 0;
}

int CZModemCore::getNextDLECh(int timeoutMs) {
    for (;;) {
        int r = getNextCh(timeoutMs);
        if (r) return r;
        unsigned int c = muCurrentCh;
        if (isXonXoff(c)) continue;
        if (miEscapeAll && (c & 0x60) == 0 && c != ZDLE) continue;
        if (c != ZDLE) return 0;
        // After ZDLE: a run of five ZDLEs is the cancel sequence.
        for (;;) {
            int zdles = 1;
            for (;;) {
                r = getNextCh(timeoutMs);
                if (r) return r;
                c = muCurrentCh;
                if (c != ZDLE) break;
                if (++zdles == 5) {
                    muCurrentCh = ZDLE;
                    return E::ResultSpecial;
                }
            }
            if (isXonXoff(c) || (miEscapeAll && (c & 0x60) == 0)) continue;  // line noise inside an escape
            break;
        }
        switch (c) {
            case ZCRCE:
            case ZCRCG:
            case ZCRCQ:
            case ZCRCW: muCurrentCh = c; return E::ResultSpecial;
            case ZRUB0: muCurrentCh = 0x7F; return 0;
            case ZRUB1: muCurrentCh = 0xFF; return 0;
            default: break;
        }
        if ((c & 0x60) == 0x40) {
            muCurrentCh = c ^ 0x40;
            return 0;
        }
        return E::ErrProtocol;
    }
}

// ---------------------------------------------------------------- escaping

bool CZModemCore::putDLEChar(unsigned char c, unsigned char* out) {
    unsigned char previous = gPrevPut.load(std::memory_order_relaxed);
    if (ZDLECodec::needsEscape(c, previous, miEscapeAll != 0)) {
        out[0] = ZDLE;
        out[1] = static_cast<unsigned char>(c ^ 0x40);
        gPrevPut.store(out[1], std::memory_order_relaxed);
        return true;
    }
    out[0] = c;
    gPrevPut.store(c, std::memory_order_relaxed);
    return false;
}

int CZModemCore::sendDLEChar(unsigned char c) {
    unsigned char out[2];
    int n = putDLEChar(c, out) ? 2 : 1;
    mpComm->write(out, n);
    return isAborted() ? E::ErrAborted : 0;
}

// ---------------------------------------------------------------- headers

void CZModemCore::putHexChar(unsigned char c, unsigned char* out) {
    static const char digits[] = "0123456789abcdef";
    out[0] = static_cast<unsigned char>(digits[c >> 4]);
    out[1] = static_cast<unsigned char>(digits[c & 0x0F]);
}

Base::String CZModemCore::GetHeaderType(int type) {
    if (type >= 0 && type < static_cast<int>(sizeof(kTypeNames) / sizeof(kTypeNames[0]))) return kTypeNames[type];
    return "unbekannt";
}

void CZModemCore::setHeader(unsigned char format, int type, const unsigned char* data) {
    mcHeaderFormat = format;
    miHeaderType = type;
    if (data) std::memcpy(mHeaderData, data, 4);
}

long CZModemCore::getHeaderPosition() const {
    return static_cast<long>(
        static_cast<std::uint32_t>(mHeaderData[0]) | static_cast<std::uint32_t>(mHeaderData[1]) << 8 |
        static_cast<std::uint32_t>(mHeaderData[2]) << 16 | static_cast<std::uint32_t>(mHeaderData[3]) << 24);
}

int CZModemCore::writeHeaderBytes(const unsigned char* bytes, int count) {
    return mpComm->write(bytes, count) ? 0 : E::ErrHeaderWrite;
}

int CZModemCore::sendHeader() {
    if (mcHeaderFormat == ZHEX) return sendHexHeader();
    if (mcHeaderFormat == ZBIN32) return sendBin32Header();
    debug("wrong headertype\n");
    return E::ErrFile;
}

int CZModemCore::sendHexHeader() {
    unsigned char buf[21];
    buf[0] = ZPAD;
    buf[1] = ZPAD;
    buf[2] = ZDLE;
    buf[3] = ZHEX;
    unsigned char body[5] = {static_cast<unsigned char>(miHeaderType), mHeaderData[0], mHeaderData[1], mHeaderData[2],
                             mHeaderData[3]};
    for (int k = 0; k < 5; ++k) putHexChar(body[k], buf + 4 + 2 * k);
    std::uint16_t crc = Math::Crc::xmodem(body, 5);
    putHexChar(static_cast<unsigned char>(crc >> 8), buf + 14);
    putHexChar(static_cast<unsigned char>(crc & 0xFF), buf + 16);
    buf[18] = 0x0D;
    buf[19] = 0x0A;
    int n = 20;
    if (miHeaderType != ZACK && miHeaderType != ZFIN) buf[n++] = XON;  // uncorks a peer stopped by a stray XOFF
    int r = writeHeaderBytes(buf, n);
    if (r) return r;
    debug("sent HexHeader " + GetHeaderType(miHeaderType) + "\n");
    return 0;
}

int CZModemCore::sendBin32Header() {
    unsigned char buf[3 + 2 * 9];
    int n = 0;
    buf[n++] = ZPAD;
    buf[n++] = ZDLE;
    buf[n++] = ZBIN32;
    unsigned char body[5] = {static_cast<unsigned char>(miHeaderType), mHeaderData[0], mHeaderData[1], mHeaderData[2],
                             mHeaderData[3]};
    std::uint32_t crc = Math::Crc::crc32(body, 5);
    unsigned char all[9] = {body[0],
                            body[1],
                            body[2],
                            body[3],
                            body[4],
                            static_cast<unsigned char>(crc),
                            static_cast<unsigned char>(crc >> 8),
                            static_cast<unsigned char>(crc >> 16),
                            static_cast<unsigned char>(crc >> 24)};
    for (unsigned char c : all) n += putDLEChar(c, buf + n) ? 2 : 1;
    int r = writeHeaderBytes(buf, n);
    if (r) return r;
    debug("sent Bin32Header " + GetHeaderType(miHeaderType) + "\n");
    return 0;
}

// What one getZMHeader carries from one search for a '*' to the next.
struct CZModemCore::HeaderSearch {
    int wait;          // for the next character
    int afterGarbage;  // ... once bytes came that are no header
    long garbage;      // bytes passed over so far
};

int CZModemCore::getZMHeader(int timeoutMs) {
    mbHeaderComplete = false;
    mbStrayZCRCW = false;
    mbHeaderSilence = false;
    if (getNextCh(timeoutMs)) {
        mbHeaderSilence = true;
        return E::ErrLinkTimeout;
    }
    // Once bytes came that are no header, a file session waits only the byte
    // gap for more: a reply damaged on the line is then known at once.
    HeaderSearch search{timeoutMs, miByteGapMs > 0 ? byteTimeout() : timeoutMs, 0};
    for (;;) {
        int pads = 0;
        int r = findHeaderStart(search, pads);
        if (r < 0) continue;  // '*' inside stale data is not a header: keep looking (bounded)
        if (r) return r;
        if (getNextCh(byteTimeout())) return E::ErrLinkTimeout;
        if (muCurrentCh == ZBIN32) {
            r = getBin32Header();
        } else if (muCurrentCh == ZHEX && pads >= 2) {
            r = getHexHeader();
        } else if (muCurrentCh == 'A' || muCurrentCh == ZHEX) {
            if (muCurrentCh == ZHEX) skipHexRest();
            return E::ErrLinkTimeout;  // ZBIN (CRC-16 binary) headers are not spoken here
        } else {
            continue;  // '*' and an escaped data byte: stale subpacket data, look on
        }
        if (r) return E::ErrLinkTimeout;
        if (mbHeaderComplete) {
            mcReceivedFormat = mcHeaderFormat;
            return 0;
        }
        // The type byte itself was unreadable: look for the next header.
        if (getNextCh(search.afterGarbage)) return E::ErrLinkTimeout;
    }
}

int CZModemCore::findHeaderStart(HeaderSearch& search, int& pads) {
    int cans = 0;
    unsigned int previous = 0;
    while (muCurrentCh != ZPAD) {
        if (muCurrentCh == ZDLE) {
            if (++cans == 5) {
                // The peer's cancel sequence: drop the rest of it that is already here.
                while (muReadLeft > 0 && (mReadBuffer[muReadPos] == ZDLE || mReadBuffer[muReadPos] == 0x08)) {
                    ++muReadPos;
                    --muReadLeft;
                }
                return E::ErrCancelled;
            }
        } else {
            cans = 0;
            if (previous == ZDLE && muCurrentCh == ZCRCW && miByteGapMs > 0) {
                // A subpacket the peer now waits to have answered, its header lost.
                mbStrayZCRCW = true;
                return E::ErrLinkTimeout;
            }
            // The end of a hex header whose start was damaged: nothing more comes.
            if (mbAnswerLines && miByteGapMs > 0 && (muCurrentCh & 0x7F) == 0x0A) return E::ErrLinkTimeout;
        }
        // XON and XOFF are flow control, not bytes that are no header.
        if (!isXonXoff(muCurrentCh)) search.wait = search.afterGarbage;
        previous = muCurrentCh;
        if (++search.garbage > MaxHeaderGarbage || isAborted()) return E::ErrLinkTimeout;
        if (search.wait == search.afterGarbage && muCurrentCh != ZDLE) {
            const std::size_t skipped = skipPlain();  // stale data in bulk
            search.garbage += static_cast<long>(skipped);
            if (skipped) previous = mReadBuffer[muReadPos - 1];
        }
        if (getNextCh(search.wait)) return E::ErrLinkTimeout;
    }
    while (muCurrentCh == ZPAD) {
        ++pads;
        if (getNextCh(byteTimeout())) return E::ErrLinkTimeout;
    }
    search.wait = search.afterGarbage;
    return muCurrentCh == ZDLE ? 0 : -1;
}

std::size_t CZModemCore::skipPlain() {
    // Up to the next '*', ZDLE or (when answers are lines) line end: none of
    // the others can change what the search does.
    const std::size_t n =
        ZDLECodec::plainRun(mReadBuffer.data() + muReadPos, muReadLeft, mbAnswerLines && miByteGapMs > 0);
    muReadPos += n;
    muReadLeft -= n;
    return n;
}

void CZModemCore::skipHexRest() {
    // A hex header ends in CR LF (either parity); the rest of a damaged one
    // would otherwise be taken for a second damaged reply.
    for (int k = 0; k < 16; ++k) {
        if (getNextCh(byteTimeout())) return;
        if ((muCurrentCh & 0x7F) == 0x0A) return;
    }
}

int CZModemCore::getHexHeader() {
    const int unit = byteTimeout();
    unsigned char body[5];
    int r = getNextHexCh(unit);
    if (r) {
        if (r == E::ErrHexDigit) skipHexRest();
        return r;
    }
    body[0] = static_cast<unsigned char>(muCurrentCh);
    if (debugging()) debug("got HexHeader " + GetHeaderType(body[0]) + "\n");
    for (int k = 1; k < 5; ++k) {
        r = getNextHexCh(unit);
        if (r) {
            if (r == E::ErrHexDigit) skipHexRest();
            return r;
        }
        body[k] = static_cast<unsigned char>(muCurrentCh);
    }
    unsigned int received = 0;
    for (int k = 0; k < 2; ++k) {
        r = getNextHexCh(unit);
        if (r) {
            if (r == E::ErrHexDigit) skipHexRest();
            return r;
        }
        received = (received << 8) | muCurrentCh;
    }
    // CR, LF and (but after ZACK and ZFIN) XON follow; their values do not
    // matter. The XON is taken only when it is here: a damaged type must not
    // make the reader wait for one that was never sent (a late one is passed
    // over like any XON).
    getNextCh(unit);
    getNextCh(unit);
    if (body[0] != ZACK && body[0] != ZFIN && muReadLeft > 0 && isXonXoff(mReadBuffer[muReadPos])) getNextCh(unit);
    if (Math::Crc::xmodem(body, 5) != received) {
        debug("set error ZMODEM_CRCXM\n");
        return E::ErrHexCrc;
    }
    mcHeaderFormat = ZHEX;
    miHeaderType = body[0];
    std::memcpy(mHeaderData, body + 1, 4);
    mbHeaderComplete = true;
    return 0;
}

int CZModemCore::getBin32Header() {
    const int unit = byteTimeout();
    unsigned char bytes[9];
    int r = getNextDLECh(unit);
    if (r != 0 && r != E::ResultSpecial) return 0;  // no header: the caller searches on
    bytes[0] = static_cast<unsigned char>(muCurrentCh);
    if (debugging()) debug("got Binary32Header " + GetHeaderType(bytes[0]) + "\n");
    for (int k = 1; k < 9; ++k) {
        r = getNextDLECh(unit);
        if (r != 0 && r != E::ResultSpecial) return r;
        bytes[k] = static_cast<unsigned char>(muCurrentCh);
    }
    std::uint32_t crc = Math::Crc::crc32(bytes, 5);
    std::uint32_t received = static_cast<std::uint32_t>(bytes[5]) | static_cast<std::uint32_t>(bytes[6]) << 8 |
                             static_cast<std::uint32_t>(bytes[7]) << 16 | static_cast<std::uint32_t>(bytes[8]) << 24;
    if (crc != received) return E::ErrBinCrc;
    mcHeaderFormat = ZBIN32;
    miHeaderType = bytes[0];
    std::memcpy(mHeaderData, bytes + 1, 4);
    mbHeaderComplete = true;
    return 0;
}

// ---------------------------------------------------------------- shorthands

int CZModemCore::sendShortHeader(unsigned char format, int type, const unsigned char* data) {
    setHeader(format, type, data);
    return sendHeader();
}

int CZModemCore::sendPositionHeader(unsigned char format, int type, long position) {
    unsigned char d[4];
    for (int k = 0; k < 4; ++k) d[k] = static_cast<unsigned char>(static_cast<unsigned long>(position) >> (8 * k));
    return sendShortHeader(format, type, d);
}

namespace {
constexpr unsigned char kNoData[4] = {0, 0, 0, 0};
}  // namespace

int CZModemCore::sendZRQInit_X(int command) {
    const unsigned char d[4] = {0, 0, 0, static_cast<unsigned char>(command ? ZCOMMAND : 0)};
    return sendShortHeader(ZHEX, ZRQINIT, d);
}

int CZModemCore::sendZRINIT(int escape) {
    const unsigned char d[4] = {0, 0, 0,
                                static_cast<unsigned char>(CANFDX | CANOVIO | CANFC32 | (escape ? ESCCTL : 0))};
    return sendShortHeader(ZHEX, ZRINIT, d);
}

int CZModemCore::sendZSINIT() {
    setHeader(ZBIN32, ZSINIT, kNoData);
    return 0;
}

int CZModemCore::sendZACK_X(const unsigned char* data) {
    unsigned char d[4];
    std::memcpy(d, data, 4);
    return sendShortHeader(ZHEX, ZACK, d);
}

int CZModemCore::sendZACK(long position) {
    // A position of 0 repeats the header data held (the answer to ZFREECNT).
    return position != 0 ? sendPositionHeader(ZHEX, ZACK, position) : sendShortHeader(ZHEX, ZACK, nullptr);
}

int CZModemCore::sendZNAK() { return sendShortHeader(ZHEX, ZNAK, kNoData); }
int CZModemCore::sendZFILE() { return sendShortHeader(ZBIN32, ZFILE, kNoData); }
int CZModemCore::sendZSKIP() { return sendShortHeader(ZHEX, ZSKIP, kNoData); }
int CZModemCore::sendZRPOS(long position) { return sendPositionHeader(ZHEX, ZRPOS, position); }
int CZModemCore::sendZDATA(long position) { return sendPositionHeader(ZBIN32, ZDATA, position); }
int CZModemCore::sendZEOF(long position) { return sendPositionHeader(ZBIN32, ZEOF, position); }
int CZModemCore::sendZFIN() { return sendShortHeader(ZHEX, ZFIN, kNoData); }

int CZModemCore::sendrz() {
    static const unsigned char text[3] = {'r', 'z', '\r'};
    debug("send rz\n");
    return mpComm->write(text, 3) ? 0 : E::ErrHeaderWrite;
}

int CZModemCore::sendOO() {
    static const unsigned char text[2] = {'O', 'O'};
    debug("send Over'n'Out\n");
    return mpComm->write(text, 2) ? 0 : E::ErrHeaderWrite;
}

int CZModemCore::getOO() {
    getNextCh(miTimeoutUnit * 100);
    getNextCh(miTimeoutUnit * 100);
    return 0;
}

int CZModemCore::sendChar() { return sendChar(static_cast<unsigned char>(muCurrentCh)); }

int CZModemCore::sendChar(unsigned char c) { return mpComm->write(&c, 1) ? 0 : E::ErrHeaderWrite; }

}  // namespace ZModem
