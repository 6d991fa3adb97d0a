#include <varonet/zmodem/CZModemCore.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include <varonet/base/Exception.h>
#include <varonet/base/detail/Crc.h>
#include <varonet/base/detail/HexDump.h>
#include <varonet/zmodem/ZModemDebugSink.h>
#include <varonet/zmodem/detail/CZModemComm.h>
#include <varonet/zmodem/detail/CZModemFile.h>

namespace ZModem {

using E = ZModemErrors;

namespace {

// The encoders remember the last byte they emitted (for the CR-after-'@' rule)
// across calls and objects. Atomic so that sessions on several threads stay
// well-defined; they still influence each other's CR escaping, as documented.
std::atomic<unsigned char> gPrevPut{0};
std::atomic<unsigned char> gPrevBlock{0};

// Longest run of bytes getZMHeader skips while looking for a header: stale
// stream data after a repositioning may precede the next header.
constexpr long MaxHeaderGarbage = 4L * 1024 * 1024;

enum ETxClass : unsigned char { TxPlain = 0, TxAlways = 1, TxCR = 2, TxControl = 3 };

struct Tables {
    std::array<unsigned char, 256> tx{};      // ETxClass per byte
    std::array<unsigned char, 256> txFast{};  // without escape-all: 1 always, 2 CR, 0 never
    std::array<bool, 256> rxSpecial{};        // bytes the fast decoder stops at
    std::array<short, 256> rxEscaped{};       // ZDLE c -> data byte, or -1 for "needs getNextDLECh"
    Tables() {
        for (int b = 0; b < 256; ++b) {
            unsigned char c = static_cast<unsigned char>(b);
            if (c == 0x10 || c == 0x11 || c == 0x13 || c == 0x18 || c == 0x90 || c == 0x91 || c == 0x93)
                tx[b] = TxAlways;
            else if (c == 0x0D || c == 0x8D) tx[b] = TxCR;
            else if ((c & 0x60) == 0) tx[b] = TxControl;
            else tx[b] = TxPlain;
            txFast[b] = tx[b] == TxAlways ? 1 : tx[b] == TxCR ? 2 : 0;
            rxSpecial[b] = c == 0x18 || c == 0x11 || c == 0x13 || c == 0x91 || c == 0x93;
            if (c == CZModemCore::ZRUB0) rxEscaped[b] = 0x7F;
            else if (c == CZModemCore::ZRUB1) rxEscaped[b] = 0xFF;
            else if ((c & 0x60) == 0x40) rxEscaped[b] = static_cast<short>(c ^ 0x40);
            else rxEscaped[b] = -1;
        }
    }
};
const Tables& tables() {
    static const Tables t;
    return t;
}

// 16 bytes at a time through the compiler's vector extension (SSE2 on x86-64,
// NEON on ARM, plain words elsewhere): comparisons give 0 or all ones per lane.
typedef unsigned char Bytes16 __attribute__((vector_size(16)));
typedef signed char Lanes16 __attribute__((vector_size(16)));
inline Bytes16 load16(const unsigned char* p) {
    Bytes16 v;
    std::memcpy(&v, p, 16);
    return v;
}
inline void store16(unsigned char* p, Bytes16 v) { std::memcpy(p, &v, 16); }
inline std::uint64_t half(Lanes16 m, int k) {
    std::uint64_t h;
    std::memcpy(&h, reinterpret_cast<const char*>(&m) + 8 * k, 8);
    return h;
}
inline bool allLanes(Lanes16 m) { return (half(m, 0) & half(m, 1)) == ~std::uint64_t{0}; }
/// One bit per lane (bit k for lane k) of a comparison result.
inline std::uint32_t laneBits(Lanes16 m) {
    auto bits8 = [](std::uint64_t lanes) {
        return static_cast<std::uint32_t>(((lanes & 0x8080808080808080ULL) * 0x0002040810204081ULL) >> 56);
    };
    return bits8(half(m, 0)) | bits8(half(m, 1)) << 8;
}
// The bytes the encoder always escapes: 10, 11, 13, 18, 90, 91, 93.
inline Lanes16 alwaysEscaped(Bytes16 w) {
    return ((w & 0x7D) == 0x11) | ((w & 0x7F) == 0x10) | (w == CZModemCore::ZDLE);
}
// Bytes the decoder cannot pass through as they are: ZDLE, XON, XOFF (either parity).
inline Lanes16 rxSpecialLanes(Bytes16 w) { return (w == CZModemCore::ZDLE) | ((w & 0x7D) == 0x11); }
static_assert(std::endian::native == std::endian::little, "laneBits numbers the lanes of little-endian loads");

inline bool escapeNeeded(unsigned char c, unsigned char previous, int escapeAll) {
    switch (tables().tx[c]) {
        case TxAlways: return true;
        case TxCR: return escapeAll != 0 || (previous & 0x7F) == '@';
        case TxControl: return escapeAll != 0;
        default: return false;
    }
}

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
    if (escapeNeeded(c, previous, miEscapeAll)) {
        out[0] = ZDLE;
        out[1] = static_cast<unsigned char>(c ^ 0x40);
        gPrevPut.store(out[1], std::memory_order_relaxed);
        return true;
    }
    out[0] = c;
    gPrevPut.store(c, std::memory_order_relaxed);
    return false;
}

void CZModemCore::MakeDLEBlock(unsigned char c, unsigned char* block, int& index) {
    unsigned char previous = gPrevBlock.load(std::memory_order_relaxed);
    bool escape = escapeNeeded(c, previous, miEscapeAll);
    unsigned char last = escape ? static_cast<unsigned char>(c ^ 0x40) : c;
    gPrevBlock.store(last, std::memory_order_relaxed);
    if (index >= BlockSize) return;
    if (escape) {
        block[index++] = ZDLE;
        if (index < BlockSize) block[index] = last;
    } else {
        block[index] = c;
    }
}

int CZModemCore::encodeBlock(const unsigned char* s, int length, int index, unsigned char& previous) {
    if (miEscapeAll || index + 2 * length > BlockSize) {
        // Slow path with the block buffer's stop rule.
        gPrevBlock.store(previous, std::memory_order_relaxed);
        for (int i = 0; i < length; ++i) {
            MakeDLEBlock(s[i], mBlock, index);
            ++index;
        }
        previous = gPrevBlock.load(std::memory_order_relaxed);
        return index;
    }
    // Fast path: the encoded form fits (the block buffer has room beyond it
    // for whole-group stores). 32 bytes at a time: the group is copied whole,
    // then each byte to escape gets its ZDLE and the rest of the group moves up
    // by one. A group that needs nothing but escapes is interleaved with ZDLE
    // at once. Without escape-all an emitted '@' (either parity) is always an
    // unescaped input '@', so the CR rule can look at the previous input byte.
    const unsigned char* cls = tables().txFast.data();  // 1 always, 2 CR, 0 never
    unsigned char* out = mBlock;
    // One byte, escaped when its class says so; returns the new index (the
    // second byte written is overwritten when it is not needed).
    auto one = [cls](unsigned char* out, int at, unsigned char c, unsigned char before) {
        int escape = (cls[c] & 1) | ((cls[c] >> 1) & static_cast<int>((before & 0x7F) == '@'));
        out[at] = escape ? ZDLE : c;
        out[at + 1] = static_cast<unsigned char>(c ^ 0x40);
        return at + 1 + escape;
    };
    auto toEscape = [](Bytes16 w, Bytes16 before, Lanes16 always) {
        return always | (((w & 0x7F) == 0x0D) & ((before & 0x7F) == '@'));
    };
    if (length == 0) return index;
    int at = one(out, index, s[0], previous);  // the byte before s[0] is not in s
    int i = 1;
    const Bytes16 zdles = Bytes16{} + ZDLE;
    while (i + 32 <= length) {
        Bytes16 w0 = load16(s + i), w1 = load16(s + i + 16);
        Lanes16 always0 = alwaysEscaped(w0), always1 = alwaysEscaped(w1);
        if (allLanes(always0 & always1)) {
            for (Bytes16 x : {w0 ^ 0x40, w1 ^ 0x40}) {
                store16(out + at,
                        __builtin_shufflevector(zdles, x, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
                store16(out + at + 16, __builtin_shufflevector(zdles, x, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29,
                                                               14, 30, 15, 31));
                at += 32;
            }
            i += 32;
            continue;
        }
        std::uint32_t escape = laneBits(toEscape(w0, load16(s + i - 1), always0)) |
                               laneBits(toEscape(w1, load16(s + i + 15), always1)) << 16;
        store16(out + at, w0);
        store16(out + at + 16, w1);
        int shift = 0;
        while (escape) {
            int k = __builtin_ctz(escape);
            escape &= escape - 1;
            unsigned char* to = out + at + k + shift++;
            Bytes16 rest0 = load16(to), rest1 = load16(to + 16);
            store16(to + 1, rest0);
            store16(to + 17, rest1);
            to[0] = ZDLE;
            to[1] = static_cast<unsigned char>(s[i + k] ^ 0x40);
        }
        at += 32 + shift;
        i += 32;
    }
    for (; i < length; ++i) at = one(out, at, s[i], s[i - 1]);
    previous = out[at - 1];  // what was actually emitted last
    return at;
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

int CZModemCore::getZMHeader(int timeoutMs) {
    mbHeaderComplete = false;
    mbStrayZCRCW = false;
    mbHeaderSilence = false;
    const int unit = byteTimeout();
    // Once bytes came that are no header, a file session waits only the byte
    // gap for more: a reply damaged on the line is then known at once. XON
    // and XOFF are flow control, not such bytes.
    const int afterGarbage = miByteGapMs > 0 ? unit : timeoutMs;
    if (getNextCh(timeoutMs)) {
        mbHeaderSilence = true;
        return E::ErrLinkTimeout;
    }
    int wait = timeoutMs;
    long garbage = 0;
    for (;;) {
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
            if (!isXonXoff(muCurrentCh)) wait = afterGarbage;
            previous = muCurrentCh;
            if (++garbage > MaxHeaderGarbage || isAborted()) return E::ErrLinkTimeout;
            if (wait == afterGarbage && muCurrentCh != ZDLE) {
                std::size_t skipped = skipPlain();  // stale data in bulk
                garbage += static_cast<long>(skipped);
                if (skipped) previous = mReadBuffer[muReadPos - 1];
            }
            if (getNextCh(wait)) return E::ErrLinkTimeout;
        }
        int pads = 0;
        while (muCurrentCh == ZPAD) {
            ++pads;
            if (getNextCh(unit)) return E::ErrLinkTimeout;
        }
        wait = afterGarbage;
        // '*' inside stale data is not a header: keep looking (bounded above).
        if (muCurrentCh != ZDLE) continue;
        if (getNextCh(unit)) return E::ErrLinkTimeout;
        int r;
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
        if (getNextCh(afterGarbage)) return E::ErrLinkTimeout;
    }
}

std::size_t CZModemCore::skipPlain() {
    // Up to the next '*', ZDLE or (when answers are lines) line end, 32 bytes
    // at a time: none of the others can change what the search does.
    const unsigned char* p = mReadBuffer.data() + muReadPos;
    const std::size_t n = muReadLeft;
    const bool lines = mbAnswerLines && miByteGapMs > 0;
    auto stops = [lines](Bytes16 w) {
        Lanes16 m = (w == ZPAD) | (w == ZDLE);
        return lines ? m | ((w & 0x7F) == 0x0A) : m;
    };
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        std::uint32_t m = laneBits(stops(load16(p + i))) | laneBits(stops(load16(p + i + 16))) << 16;
        if (m) {
            i += static_cast<std::size_t>(__builtin_ctz(m));
            break;
        }
    }
    while (i < n && p[i] != ZPAD && p[i] != ZDLE && !(lines && (p[i] & 0x7F) == 0x0A)) ++i;
    muReadPos += i;
    muReadLeft -= i;
    return i;
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

// ---------------------------------------------------------------- data

int CZModemCore::sendData32(const unsigned char* data, int length, unsigned char frameEnd) {
    if (length < 0) length = 0;
    unsigned char previous = gPrevBlock.load(std::memory_order_relaxed);
    int index = encodeBlock(data, length, 0, previous);
    Math::Crc crc(Math::Crc::Crc32);
    crc.update(data, static_cast<std::size_t>(length));
    crc.update(frameEnd);
    std::uint32_t value = crc.getCRC();
    if (index + 2 + 8 <= BlockSize) {
        mBlock[index++] = ZDLE;
        mBlock[index++] = frameEnd;
        // The CRC bytes go through the escaper like data (least significant first).
        const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                        static_cast<unsigned char>(value >> 16),
                                        static_cast<unsigned char>(value >> 24)};
        index = encodeBlock(bytes, 4, index, previous);
    } else {
        index = BlockSize + 1;
    }
    gPrevBlock.store(previous, std::memory_order_relaxed);
    // An encoded form that did not fit the block buffer would go out corrupt.
    if (index > BlockSize) return E::ErrDataWrite;
    int pending = 0;
    const Base::ByteArray& held = mpComm->getPending(pending);
    int ok;
    if (pending > 0) {
        // The held-back header and its first subpacket leave in one write.
        Base::ByteArray out;
        out.reserve(static_cast<std::size_t>(pending + index));
        out.append(held.data(), static_cast<std::size_t>(pending));
        out.append(mBlock, static_cast<std::size_t>(index));
        ok = mpComm->write(out.data(), static_cast<long>(out.size()));
    } else {
        ok = mpComm->write(mBlock, index);
    }
    if (!ok) return E::ErrDataWrite;
    if (debugging())
        debug("sendData " + Base::String::fromInteger(length) + " (" + Base::String::fromInteger(index) + ") Bytes\n");
    return isAborted() ? E::ErrAborted : 0;
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
    const auto& t = tables();
    const unsigned char* p = mReadBuffer.data() + muReadPos;
    // One subpacket (1 KiB of file data, escaped) fits a step; the data buffer
    // grows by at most what was actually received.
    const std::size_t n = muReadLeft < static_cast<std::size_t>(BlockSize) ? muReadLeft : BlockSize;
    // Decoded into scratch space first: growing the data buffer by a whole
    // step would clear bytes that are then mostly given back.
    unsigned char* out = mDecoded;
    std::size_t i = 0, o = 0;
    // 32 bytes at a time: the group is copied whole, then each simple escape
    // is decoded in place and the rest of the group moves down by one (XON and
    // XOFF, which the line may let through, are dropped the same way). A group
    // of 16 simple escapes is decoded at once. At anything else (a frame end,
    // a cancel, an escape cut by the group's end) the bytes before it are kept
    // and the rest goes one byte or escape at a time.
    const Bytes16 zdles = Bytes16{} + ZDLE;
    bool going = true;
    while (going && i + 64 <= n) {  // the moves read up to 32 bytes past the group
        Bytes16 w0 = load16(p + i), w1 = load16(p + i + 16);
        std::uint32_t special = laneBits(rxSpecialLanes(w0)) | laneBits(rxSpecialLanes(w1)) << 16;
        store16(out + o, w0);
        store16(out + o + 16, w1);
        if (special == 0x55555555u) {
            Bytes16 lead = __builtin_shufflevector(w0, w1, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
            Bytes16 escaped =
                __builtin_shufflevector(w0, w1, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
            if (allLanes((lead == zdles) & ((escaped & 0x60) == 0x40))) {
                store16(out + o, escaped ^ 0x40);
                o += 16;
                i += 32;
                continue;
            }
        }
        std::size_t dropped = 0;
        while (special) {
            std::size_t k = static_cast<std::size_t>(__builtin_ctz(special));
            special &= special - 1;
            unsigned char* to = out + o + k - dropped;
            const unsigned char* from = p + i + k + 1;  // what follows the special byte
            if (p[i + k] == ZDLE) {
                short d = k < 31 ? t.rxEscaped[p[i + k + 1]] : -1;
                if (d < 0) {  // not a simple escape: the byte path decides
                    o += k - dropped;
                    i += k;
                    going = false;
                    break;
                }
                *to++ = static_cast<unsigned char>(d);
                ++from;
            }
            store16(to, load16(from));
            store16(to + 16, load16(from + 16));
            ++dropped;
        }
        if (going) {
            o += 32 - dropped;
            i += 32;
        }
    }
    while (going && i < n) {
        unsigned char b = p[i];
        if (!t.rxSpecial[b]) {
            out[o++] = b;
            ++i;
        } else if (b != ZDLE) {
            ++i;  // XON / XOFF
        } else if (i + 1 < n && t.rxEscaped[p[i + 1]] >= 0) {
            out[o++] = static_cast<unsigned char>(t.rxEscaped[p[i + 1]]);
            i += 2;
        } else {
            going = false;  // a frame end, a cancel, or an escape split by the read
        }
    }
    if (o) {
        mData.append(out, o);
        muCurrentCh = out[o - 1];
    }
    muReadPos += i;
    muReadLeft -= i;
}

int CZModemCore::getData() {
    const int unit = byteTimeout();
    const std::size_t start = mData.size();
    for (;;) {
        decodeFast();
        // Memory follows what a sane peer sends: an endless subpacket is damaged.
        if (mData.size() - start > MaxSubpacket) return E::ErrProtocol;
        // The usual end, ZDLE frame-end and four plain or simply escaped CRC
        // bytes already in the read buffer, is decoded here without the
        // character readers.
        if (mcReceivedFormat != ZHEX && !miEscapeAll && muReadLeft >= 6) {
            const unsigned char* p = mReadBuffer.data() + muReadPos;
            const std::size_t left = muReadLeft;
            if (p[0] == ZDLE && p[1] >= ZCRCE && p[1] <= ZCRCW) {
                const auto& t = tables();
                std::size_t i = 2;
                std::uint32_t received = 0;
                int k = 0;
                for (; k < 4 && i < left; ++k) {
                    unsigned char b = p[i];
                    if (!t.rxSpecial[b]) {
                        ++i;
                    } else if (b == ZDLE && i + 1 < left && t.rxEscaped[p[i + 1]] >= 0) {
                        b = static_cast<unsigned char>(t.rxEscaped[p[i + 1]]);
                        i += 2;
                    } else {
                        break;
                    }
                    received |= static_cast<std::uint32_t>(b) << (8 * k);
                }
                if (k == 4) {
                    unsigned char frameEnd = p[1];
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
            }
        }
        int r = getNextDLECh(unit);
        if (r == 0) {
            mData.append(static_cast<unsigned char>(muCurrentCh));
            if (mData.size() - start > MaxSubpacket) return E::ErrProtocol;
            continue;
        }
        if (r != E::ResultSpecial) return r;
        if (muCurrentCh == ZDLE) return E::ErrProtocol;  // cancel sequence
        unsigned char frameEnd = static_cast<unsigned char>(muCurrentCh);
        if (mcReceivedFormat == ZHEX) {
            // A subpacket after a hex header carries CRC-16 (high byte first):
            // peers send ZSINIT as a hex header. This side never does.
            unsigned int received16 = 0;
            for (int k = 0; k < 2; ++k) {
                if (getNextDLECh(unit) != 0) return E::ErrProtocol;
                received16 = (received16 << 8) | (muCurrentCh & 0xFF);
            }
            Math::Crc crc16(Math::Crc::Xmodem);
            crc16.update(mData.data() + start, mData.size() - start);
            crc16.update(frameEnd);
            if (crc16.getCRC() != received16) return E::ErrBinCrc;
            miPosition += static_cast<int>(mData.size() - start);
            muCurrentCh = frameEnd;
            return E::ResultFrameEnd + frameEnd;
        }
        std::uint32_t received = 0;
        for (int k = 0; k < 4; ++k) {
            if (getNextDLECh(unit) != 0) return E::ErrProtocol;
            received |= static_cast<std::uint32_t>(muCurrentCh & 0xFF) << (8 * k);
        }
        // The CRC covers the decoded bytes; one pass over them is faster than per byte.
        Math::Crc crc(Math::Crc::Crc32);
        crc.update(mData.data() + start, mData.size() - start);
        crc.update(frameEnd);
        if (crc.getCRC() != received) return E::ErrBinCrc;
        miPosition += static_cast<int>(mData.size() - start);
        muCurrentCh = frameEnd;
        return E::ResultFrameEnd + frameEnd;
    }
}

int CZModemCore::sendFILEINFO() {
    Base::ByteArray info;
    int size = 0;
    mpFile->getFileInfo(info, size);
    Math::Crc crc(Math::Crc::Crc32);
    crc.update(info.data(), info.size());
    crc.update(ZCRCW);
    std::uint32_t value = crc.getCRC();
    if (2 * info.size() + 2 + 8 > static_cast<std::size_t>(BlockSize)) return E::ErrDataWrite;
    // Through the escaper: a plain name, NUL and digits come out unchanged, but
    // a receiver that asked for escaped control characters drops a bare NUL.
    unsigned char previous = gPrevBlock.load(std::memory_order_relaxed);
    int index = encodeBlock(info.data(), static_cast<int>(info.size()), 0, previous);
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
