#include <varonet/zmodem/CZModem.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include <varonet/zmodem/detail/CZModemComm.h>
#include <varonet/zmodem/detail/CZModemFile.h>

namespace ZModem {

using E = ZModemErrors;

namespace {
constexpr int ChunkSize = 1024;        // file data per subpacket on a clean line
constexpr int MinChunkSize = 256;      // ... and after damage, at least
constexpr int CleanRunToGrow = 8;      // answers in a row before the subpacket grows again
constexpr int MaxReadRetries = 10;     // failed file reads in a row before giving up
constexpr int MaxIgnoredHeaders = 20;  // headers passed over while waiting for one that matters
constexpr int MaxResends = 20;         // re-sends from one position without progress
constexpr int MaxOfferTries = 10;      // ZFILE offers without an answer that settles them
constexpr int MaxFinTries = 5;         // ZFIN sent without the peer's ZFIN
constexpr int MaxDataRetries = 40;     // frames in a row that brought no data
constexpr int ReceiverSetbacks = 5;    // receiver's setbacks since the last progress
constexpr int ZrinitWaitMs = 10000;    // sender's wait for ZRINIT before repeating ZRQINIT
constexpr int MinSettleMs = 5;         // least wait for the answer that may follow a doubtful ZRPOS
constexpr int EchoWaitMs = 2000;       // a ZRINIT after the offer may be an echo: wait for what follows
constexpr int RzWaitMs = 60000;        // receiver's wait for "rz\r"
constexpr int ClosureWaitMs = 60000;   // receiver's wait for "OO"
constexpr int SecondOWaitMs = 1000;
constexpr unsigned char ZCRESUM = 3;  // ZFILE ZF0: the sender asks to resume
Base::String dec(long value) { return Base::String::fromInteger(value); }
bool isFailure(int r) { return r < 0 || (r >= E::ErrHexCrc && r <= E::ErrFileTooLarge); }
using Outcome = TransferObserver::Outcome;
}  // namespace

CZModem::CZModem(IO::Device* device) : CZModemCore(device, false), mpDevice(device) { miEscapeAll = 0; }

void CZModem::setExistingFilePolicy(ExistingFile policy) {
    mePolicy = policy;
    mpFile->setExistingFilePolicy(policy);
}

void CZModem::finished(const Base::String& name, Outcome outcome, int code) {
    if (mpObserver) mpObserver->fileFinished(name, outcome, code);
}

void CZModem::Terminate() {
    debug("Benutzer Abbruch !\n");
    setAbort();
}

Base::String CZModem::getCmdStr() {
    Base::String text("");
    for (std::size_t i = 0; i < mData.size(); ++i) {
        text += static_cast<char>(mData[i]);
        if (mData[i] == 0) break;
    }
    return text;
}

Base::String CZModem::getFileName() { return mpFile->getName(); }

unsigned char CZModem::frameEndOf(int kind) const {
    return kind == KindZCRCE ? ZCRCE : kind == KindZCRCG ? ZCRCG : kind == KindZCRCW ? ZCRCW : ZCRCQ;
}

// ---------------------------------------------------------------- header helpers

void CZModem::stohdr(long value) {
    for (int k = 0; k < 4; ++k)
        mHeaderData[k] = static_cast<unsigned char>(static_cast<unsigned long>(value) >> (8 * k));
}

int CZModem::sendZHexHeader(int type, unsigned char byte) {
    const unsigned char d[4] = {0, 0, 0, byte};
    return sendShortHeader(ZHEX, type, d);
}

int CZModem::sendZHEXHEADER(int type, int p0, int p1, int p2, int p3) {
    const unsigned char d[4] = {static_cast<unsigned char>(p0), static_cast<unsigned char>(p1),
                                static_cast<unsigned char>(p2), static_cast<unsigned char>(p3)};
    return sendShortHeader(ZHEX, type, d);
}

int CZModem::sendZBINHEADER(int type, long value, unsigned char byte) {
    stohdr(value);
    mHeaderData[3] = byte;
    return sendShortHeader(ZBIN32, type, nullptr);
}

// ---------------------------------------------------------------- sending

int CZModem::startSend() {
    ResetAll();
    miTimeoutUnit = 600;
    mcReceiverFlags = 0;
    miBlockSize = 8192;
    miRequestedBlockSize = 0;
    miByteGapMs = ByteGapMs;
    miChunk = ChunkSize;
    setAnswerLines(true);
    resetLineState();
    return 0;
}

int CZModem::sendez(const Base::String& commandOrFile, int mode, int length) {
    startSend();
    if (mode == 0) {
        Base::String path = (msPath.isEmpty() || msPath.endsWith("/") ? msPath : msPath + "/") + commandOrFile;
        if (CZModemFile::lengthOf(path) > CZModemFile::MaxFileSize) {
            debug("error open file " + path + " : file larger than 2 GiB - 1\n");
            return E::ErrFileTooLarge;
        }
    }
    sendrz();
    if (mode != 0) {
        debug("sendez commandmode " + commandOrFile + "\n");
        sendZRQInit_X(1);
        int r = getzrxinit();
        if (r) {
            canit();
            return r;
        }
        r = zsendcmd(commandOrFile, length);
        if (isFailure(r)) canit();
        return r;
    }
    debug("sendez filemode\n");
    sendZRQInit_X(1);  // ZF0 = ZCOMMAND here too; getzrxinit ignores our own echo
    int r = wcsend(commandOrFile);
    if (r) canit();
    return r;
}

int CZModem::sendFiles(const std::vector<Base::String>& paths) {
    startSend();
    Base::String directory = msPath.isEmpty() || msPath.endsWith("/") ? msPath : msPath + "/";
    auto full = [&](const Base::String& path) { return path.startsWith("/") ? path : directory + path; };
    for (const auto& path : paths) {
        if (CZModemFile::lengthOf(full(path)) > CZModemFile::MaxFileSize) {
            debug("error open file " + full(path) + " : file larger than 2 GiB - 1\n");
            if (mpObserver) mpObserver->fileStarted(path, 0);
            finished(path, Outcome::Failed, E::ErrFileTooLarge);
            return E::ErrFileTooLarge;
        }
    }
    sendrz();
    debug("sendez filemode\n");
    sendZRQInit_X(1);
    int r = getzrxinit();
    if (r) {
        canit();
        debug("Fehler : wcsend, getzrxinit\n");
        return r == E::ErrAborted ? E::ErrAborted : E::ErrNoReceiver;
    }
    int fileFailure = 0;
    for (const auto& path : paths) {
        mpFile->setSendNames(path.startsWith("/") ? Base::String("") : msPath, "");
        r = sendFile(path);
        if (r == E::ErrFile && !mpFile->isWriting()) {
            // This file could not be read: the session goes on with the next.
            fileFailure = r;
            continue;
        }
        if (r) {
            canit();
            return r;
        }
    }
    r = finishSession();
    if (r) {
        canit();
        return r;
    }
    return fileFailure;
}

int CZModem::sendez(Base::MemoryDevice* memory) {
    ResetAll();
    mcReceiverFlags = 0;
    miRequestedBlockSize = 0;
    miTimeoutUnit = 600;
    miBlockSize = 8192;
    miByteGapMs = 0;
    miChunk = ChunkSize;
    setAnswerLines(true);
    resetLineState();
    if (!mpFile->useMemoryDevice(memory)) return E::ErrFile;
    return sendFileData();
}

int CZModem::getzrxinit() {
    int budget = 5;
    for (;;) {
        if (budget < 0) return E::ErrProtocol;
        int r = getZMHeader(ZrinitWaitMs);
        if (r == E::ErrCancelled) return r;
        if (r) {
            if (isAborted()) return E::ErrAborted;
            sendZRQInit_X(1);
            --budget;
            continue;
        }
        switch (miHeaderType) {
            case ZRINIT:
                mcReceiverFlags = mHeaderData[3];
                if (mcReceiverFlags & ESCCTL) miEscapeAll = ESCCTL;
                miBlockSize = mHeaderData[0] + 256 * mHeaderData[1];
                return sendZSINIT();
            case ZRQINIT:
                if (mHeaderData[3] == ZCOMMAND) {  // our own ZRQINIT echoed back
                    --budget;
                    continue;
                }
                break;
            case ZCHALLENGE: {
                unsigned char d[4];
                std::memcpy(d, mHeaderData, 4);
                sendZACK_X(d);
                --budget;
                continue;
            }
            case ZCAN: return E::ErrCancelled;
            case ZCOMMAND:
                sendZRQInit_X(1);
                --budget;
                continue;
            default: break;
        }
        sendZHEXHEADER(ZNAK, 0, 0, 0, ZCOMMAND);
        --budget;
    }
}

int CZModem::sendZSINIT() {
    if (miEscapeAll == 0 || (mcReceiverFlags & ESCCTL)) return 0;
    static const unsigned char attention[1] = {0};  // an empty attention string
    for (int attempt = 0; attempt < 10; ++attempt) {
        CZModemCore::sendZSINIT();
        int r = sendHeader();
        if (r) return r;
        r = sendData32(attention, 1, ZCRCW);
        if (r) return r;
        r = getZMHeader(miTimeoutUnit * 100);
        if (isAborted()) return E::ErrAborted;
        if (r == E::ErrCancelled) return r;
        if (r) continue;  // a damaged answer: offer the settings again
        if (miHeaderType == ZACK) return 0;
        if (miHeaderType == ZCAN) return E::ErrCancelled;
    }
    return E::ErrProtocol;
}

int CZModem::wcsend(const Base::String& name) {
    int r = getzrxinit();
    if (r) canit();
    mpFile->setSendNames(msPath, "");
    if (r) {
        debug("Fehler : wcsend, getzrxinit\n");
        // A terminated session says so, whatever step it was in.
        return r == E::ErrAborted ? E::ErrAborted : E::ErrNoReceiver;
    }
    r = sendFile(name);
    if (r == 0) r = finishSession();
    return r;
}

int CZModem::finishSession() {
    // ZFIN until the receiver's ZFIN comes back: a damaged ZFIN either way is sent again.
    int r = 0;
    for (int attempt = 0; attempt < MaxFinTries; ++attempt) {
        r = sendZFIN();
        if (r) return r;
        r = getZMHeader(attempt == 0 ? miTimeoutUnit * 100 : ReplyWaitMs);
        if (r == 0 && miHeaderType == ZFIN) {
            sendOO();
            return 0;
        }
        if (isAborted()) return E::ErrAborted;
        if (r == E::ErrCancelled || (r == 0 && miHeaderType == ZCAN)) return E::ErrCancelled;
    }
    return r ? r : E::ErrProtocol;
}

int CZModem::sendFile(const Base::String& name) {
    Base::String shown = mpFile->getBaseName().isEmpty() ? name : mpFile->getBaseName();
    if (!mpFile->openForRead(name)) {
        if (mpObserver) mpObserver->fileStarted(name, 0);
        finished(name, Outcome::Failed, E::ErrFile);
        return E::ErrFile;
    }
    shown = mpFile->getBaseName();
    if (mpObserver) mpObserver->fileStarted(shown, static_cast<std::uint64_t>(mpFile->getSize()));
    debug("SendFile " + name + "\n");
    miPosition = 0;
    bool offered = false;
    bool haveHeader = false;  // a header read ahead (after a ZRINIT) waits to be handled
    bool echoWaited = false;  // this offer already waited behind one ZRINIT
    int failures = 0;
    int result = 0;
    bool done = false;
    Outcome outcome = Outcome::Failed;
    while (!done && failures < MaxOfferTries) {
        if (isAborted()) {
            result = E::ErrAborted;
            break;
        }
        if (!offered) {
            int r = sendZFILE();
            if (r == 0) r = sendFILEINFO();
            if (r) {
                result = r;
                break;
            }
            offered = true;
            echoWaited = false;
        }
        if (!haveHeader) {
            int r = getZMHeader(ReplyWaitMs);
            if (r == E::ErrCancelled) {
                result = r;
                break;
            }
            if (r) {
                result = r;
                ++failures;
                offered = false;  // the offer or its answer was lost: make it again
                continue;
            }
        }
        haveHeader = false;
        switch (miHeaderType) {
            case ZRINIT:
                // The receiver repeats its ZRINIT: an echo of an earlier request
                // is followed by the answer to the offer; without one, or with a
                // second ZRINIT, the offer was lost and is made again.
                result = E::ErrProtocol;
                ++failures;
                if (!echoWaited && getZMHeader(EchoWaitMs) == 0) haveHeader = echoWaited = true;
                else offered = false;
                break;
            case ZSKIP:
                debug("got ZSKIP\n");
                result = 0;
                outcome = Outcome::Skipped;
                done = true;
                break;
            case ZNAK:
                debug("got ZNAK\n");
                offered = false;
                ++failures;
                break;
            case ZRPOS: {
                long position = getHeaderPosition();
                debug("got ZRPOS " + dec(position) + "\n");
                mpFile->seek(position);
                miPosition = static_cast<int>(position);
                result = sendFileData();
                if (result == 0) outcome = Outcome::Sent;
                done = true;
                break;
            }
            case ZCRC:
                debug("got ZCRC, no action\n");
                ++failures;
                break;
            case ZCAN:
                result = E::ErrCancelled;
                done = true;
                break;
            default: ++failures; break;  // bounded like the failures
        }
    }
    mpFile->close();
    finished(shown, outcome, outcome == Outcome::Failed ? (result ? result : E::ErrProtocol) : 0);
    return result;
}

int CZModem::sendFileData() {
    debug("sendFileData \n");
    enum { StateRead = 0, StateEof = 1, StateSend = 2, StateReposition = 3, StateWaitEnd = 4 };
    const bool memory = miByteGapMs == 0;
    // A frame's answer comes within a round trip: once the line has shown
    // damage, a file session waits a few round trips before it sends the
    // frame again, twice as long after each silence (never longer than ReplyWaitMs).
    int silences = 0;  // in a row
    auto dataWait = [&]() {
        if (memory) return miTimeoutUnit * 300;
        return static_cast<int>(
            std::min<long>(static_cast<long>(adaptiveTimeout(MinReplyWaitMs, ReplyWaitMs)) << silences, ReplyWaitMs));
    };
    const int endWait = memory ? miTimeoutUnit * 100 : ReplyWaitMs;
    int state = StateRead;
    int result = 0;
    int readFailures = 0;
    int ignored = 0;
    int resends = 0;
    int cleanRun = 0;
    int length = 0;
    long confirmed = miPosition;  // what the receiver has confirmed (ZRPOS or ZACK)
    bool firstTry = true;         // the frame waiting for its answer was sent once (a clean round trip)
    Base::String name = mpFile->getBaseName();
    auto readNext = [&]() -> int {  // 0 data, 1 end, -1 failure
        int r = mpFile->readChunk(mData, miChunk, length);
        miDataLength = length;
        return r;
    };
    // Back to what the receiver confirmed, with shorter subpackets: the line is noisy.
    auto sendAgain = [&]() -> bool {
        if (++resends > MaxResends) return false;
        noteDamage();
        firstTry = false;
        miChunk = std::max(MinChunkSize, miChunk / 2);
        cleanRun = 0;
        if (debugging()) debug("resend from " + dec(confirmed) + "\n");
        mpFile->seek(confirmed);
        miPosition = static_cast<int>(confirmed);
        return true;
    };
    for (;;) {
        if (state == StateRead) {
            miFrameEndKind = KindZCRCW;
            int r = readNext();
            if (r < 0) {
                if (++readFailures >= MaxReadRetries) {
                    result = E::ErrFile;
                    break;
                }
                mpFile->seek(miPosition);
                continue;
            }
            readFailures = 0;
            if (r == 1) {
                miFrameEndKind = KindZCRCE;
                state = StateEof;
                continue;
            }
            // The ZDATA header waits and leaves in the same write as the subpacket.
            mpComm->setDirect(false);
            sendZDATA(miPosition);
            mpComm->setDirect(true);
            if (length < miChunk) miFrameEndKind = KindZCRCE;
            state = StateSend;
        } else if (state == StateSend) {
            int r = sendData32(mData.data(), miDataLength, frameEndOf(miFrameEndKind));
            if (r) {
                result = r;
                break;
            }
            miPosition += miDataLength;
            if (miFrameEndKind == KindZCRCE) {
                state = StateEof;
                continue;
            }
            const auto sentAt = std::chrono::steady_clock::now();
            bool settled = false;  // a doubtful ZRPOS was given its round trip
            bool haveHeader = false;
            for (bool waiting = true; waiting;) {
                waiting = false;
                if (!haveHeader) r = getZMHeader(dataWait());
                haveHeader = false;
                silences = r && isHeaderSilence() ? std::min(silences + 1, 10) : 0;
                if (isAborted()) return E::ErrAborted;
                if (r == E::ErrCancelled || (r == 0 && miHeaderType == ZCAN)) {
                    result = E::ErrCancelled;
                } else if (r == 0 && miHeaderType == ZFERR) {
                    result = E::ErrReceiverFileError;
                } else if (r && memory) {
                    result = r;
                } else if (r == 0 && miHeaderType == ZRPOS && getHeaderPosition() == confirmed && !memory && !settled) {
                    // Either this frame was damaged, or the answer belongs to an
                    // earlier frame (some receivers answer one damaged frame
                    // twice). The answer to this frame, if it comes, follows
                    // within a round trip; without one the frame is sent again.
                    settled = true;
                    r = getZMHeader(mlRoundTripUs < 0 ? MinSettleMs : roundTripTimeout(1, ReplyWaitMs));
                    if (r == 0) {
                        haveHeader = waiting = true;
                    } else {
                        unsigned char d[4];
                        for (int k = 0; k < 4; ++k) d[k] = static_cast<unsigned char>(confirmed >> (8 * k));
                        setHeader(ZHEX, ZRPOS, d);
                        state = StateReposition;
                    }
                } else if (r == 0 && miHeaderType == ZRPOS && getHeaderPosition() >= confirmed) {
                    state = StateReposition;
                } else if (r == 0 && miHeaderType == ZACK && getHeaderPosition() == miPosition) {
                    mpFile->addProgress(miDataLength);
                    if (debugging()) debug("ZACK lastpos: " + dec(getHeaderPosition()) + "\n");
                    confirmed = miPosition;
                    resends = 0;
                    ignored = 0;
                    if (!settled && firstTry) {
                        noteRoundTrip(static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                            std::chrono::steady_clock::now() - sentAt)
                                                            .count()));
                    }
                    firstTry = true;
                    if (++cleanRun >= CleanRunToGrow && miChunk < ChunkSize) {
                        miChunk *= 2;
                        cleanRun = 0;
                    }
                    if (mpObserver && !memory) mpObserver->fileProgress(name, static_cast<std::uint64_t>(confirmed));
                    state = StateRead;
                } else if (r == 0 && (miHeaderType == ZACK || miHeaderType == ZRPOS)) {
                    // An answer to an earlier frame: the one to this frame is still to come.
                    waiting = ++ignored <= MaxIgnoredHeaders;
                    if (!waiting) result = E::ErrProtocol;
                } else if (sendAgain()) {
                    state = StateRead;  // damaged, unexpected or no answer
                } else {
                    result = r ? r : E::ErrProtocol;
                }
            }
            if (result) break;
        } else if (state == StateReposition) {
            long position = getHeaderPosition();
            if (debugging()) debug("ZRPOS newpos: " + dec(position) + "\n");
            if (++resends > MaxResends) {
                result = E::ErrProtocol;
                break;
            }
            firstTry = false;
            noteDamage();  // the receiver asks again: something was damaged or lost
            if (position < miPosition) {
                miChunk = std::max(MinChunkSize, miChunk / 2);
                cleanRun = 0;
            }
            mpFile->seek(position);
            miPosition = static_cast<int>(position);
            confirmed = position;
            state = StateRead;
        } else if (state == StateEof) {
            int r = sendZEOF(miPosition);
            if (r) {
                result = r;
                break;
            }
            debug("sendZEOF\n");
            state = StateWaitEnd;
        } else {  // StateWaitEnd
            debug("Wait ZRINIT\n");
            int r = getZMHeader(endWait);
            if (r == 0 && (miHeaderType == ZRINIT || miHeaderType == ZFIN)) {
                result = 0;
                break;
            }
            if (r == 0 && miHeaderType == ZRPOS) {
                state = StateReposition;
                continue;
            }
            if (r == 0 && miHeaderType == ZFERR) {
                result = E::ErrReceiverFileError;
                break;
            }
            if (isAborted()) return E::ErrAborted;
            if (r == E::ErrCancelled || (r == 0 && miHeaderType == ZCAN)) {
                result = E::ErrCancelled;
                break;
            }
            if (r && memory) {
                result = r;
                break;
            }
            if (r) {
                // The ZEOF or its answer was damaged or lost: say it again.
                if (++resends > MaxResends) {
                    result = r;
                    break;
                }
                state = StateEof;
                continue;
            }
            if (++ignored > MaxIgnoredHeaders) {
                result = E::ErrProtocol;
                break;
            }
        }
    }
    debug("SendData finished with 0x" + Base::String::fromUnsigned(static_cast<unsigned int>(result), 16) + "\n");
    return result;
}

int CZModem::zsendcmd(const Base::String& command, int length) {
    if (length < 0) length = 0;
    int r = sendZBINHEADER(ZCOMMAND, 1, 1);  // data 1, 0, 0, 1
    if (r) return r;
    for (int retries = 0;;) {
        miDataLength = length;
        mData.clear();
        std::size_t fromText =
            static_cast<std::size_t>(length) < command.length() ? static_cast<std::size_t>(length) : command.length();
        mData.append(command.data(), fromText);
        while (mData.size() < static_cast<std::size_t>(length)) mData.append(static_cast<unsigned char>(0));
        r = sendData(KindZCRCW);
        if (r) return r;
        miTimeoutUnit = 600;
        int passed = 0;
        do {
            r = getZMHeader(miTimeoutUnit * 100);
        } while (r == 0 && (miHeaderType == ZRINIT || miHeaderType == ZRQINIT) && ++passed < MaxIgnoredHeaders);
        if (r == 0) {
            switch (miHeaderType) {
                case ZCOMPL: {
                    int status = mHeaderData[3];
                    SessionClosure();
                    return status;
                }
                case ZSKIP:
                case ZABORT:
                case ZFIN:
                case ZRPOS:
                case ZCAN: return E::ErrProtocol;
                default: break;
            }
        } else if (isAborted()) {
            return E::ErrAborted;
        } else if (r == E::ErrCancelled) {
            return r;
        }
        if (++retries >= 12) return E::ErrProtocol;
        r = sendZBINHEADER(ZCOMMAND, 1, 1);
        if (r) return r;
    }
}

int CZModem::SessionClosure() {
    int r = sendZFIN();
    if (r) return r;
    r = getZMHeader(miTimeoutUnit * 100);
    if (r) return r;
    if (miHeaderType == ZFIN) sendOO();
    return 0;
}

void CZModem::canit() {
    unsigned char bytes[21];
    std::memset(bytes, 0x18, 11);
    std::memset(bytes + 11, 0x08, 10);
    mpComm->write(bytes, 21);
    debug("sent canit\n");
}

// ---------------------------------------------------------------- receiving

int CZModem::rec_z(int count) {
    ResetAll();
    miResult = 0;
    miFileFailure = 0;
    miByteGapMs = ByteGapMs;
    setAnswerLines(false);
    resetLineState();
    mpFile->setExistingFilePolicy(mePolicy);
    int r = wait_rz(count);
    if (r) return r;
    miTimeoutUnit = 600;
    if (mbStartedByHeader) sendZRINIT(miEscapeAll);  // the ZRQINIT that started us asked for it
    r = receive_yz(false);
    if (mpFile->isWriting()) {
        // The session ended inside a file: it is incomplete, whatever the session says.
        Base::String name = mpFile->getBaseName();
        mpFile->abandonWrite();
        if (r == 0) r = E::ErrProtocol;
        finished(name, Outcome::Failed, r);
    }
    if (r) {
        canit();
        return r;
    }
    return miFileFailure ? miFileFailure : miResult;
}

int CZModem::rec_z(Base::MemoryDevice* memory) {
    ResetAll();
    miResult = 0;
    miTimeoutUnit = 600;
    miByteGapMs = 0;
    setAnswerLines(false);
    resetLineState();
    if (!mpFile->useMemoryDevice(memory)) return E::ErrFile;
    return receive_yz(true);
}

int CZModem::wait_rz(int count) {
    // "rz\r" starts a session; so does the start of a ZRQINIT, should the
    // "rz\r" before it have been damaged on the line.
    static const char pattern[3] = {'r', 'z', '\r'};
    static const char request[4] = {static_cast<char>(ZDLE), ZHEX, '0', '0'};
    int matched = 0;
    int requestMatched = 0;
    mbStartedByHeader = false;
    for (;;) {
        if (isAborted()) return E::ErrAborted;
        if (count < 1) return E::ErrNoRz;
        if (getNextCh(RzWaitMs)) {
            --count;
            continue;
        }
        char c = static_cast<char>(muCurrentCh);
        if (c == pattern[matched]) {
            if (++matched == 3) return 0;
        } else {
            matched = c == pattern[0] ? 1 : 0;
        }
        if (c == request[requestMatched]) {
            if (++requestMatched == 4) {
                mbStartedByHeader = true;
                return 0;
            }
        } else {
            requestMatched = c == request[0] ? 1 : 0;
        }
    }
}

int CZModem::getInfoSubpacket() {
    const int position = miPosition;
    mData.clear();
    int r = getData();
    miPosition = position;
    return r;
}

int CZModem::receiveFileOffer() {
    if (getInfoSubpacket() != E::ResultFrameEnd + ZCRCW) {
        sendZNAK();
        return 0;
    }
    // "name\0size[ mtime mode ...]": only the name and the size matter here.
    std::size_t i = 0;
    Base::String name("");
    while (i < mData.size() && mData[i] != 0) name += static_cast<char>(mData[i++]);
    ++i;
    long long size = 0;
    for (int digits = 0; i < mData.size() && mData[i] >= '0' && mData[i] <= '9' && digits < 15; ++digits)
        size = size * 10 + (mData[i++] - '0');
    if (mpFile->isWriting()) {
        if (mpFile->getBaseName() == name) {
            sendZRPOS(miPosition);  // the same offer again: its answer was lost
            return 0;
        }
        Base::String previous = mpFile->getBaseName();
        mpFile->abandonWrite();
        finished(previous, Outcome::Failed, E::ErrProtocol);
    }
    if (mpObserver) mpObserver->fileStarted(name, static_cast<std::uint64_t>(size));
    if (size > CZModemFile::MaxFileSize) {
        debug("error open file " + name + " : file larger than 2 GiB - 1\n");
        if (!miFileFailure) miFileFailure = E::ErrFileTooLarge;
        finished(name, Outcome::Failed, E::ErrFileTooLarge);
        sendZSKIP();
        return 0;
    }
    miFileSize = static_cast<int>(size);
    mpFile->setReceiveNames(msPath, name);
    mpFile->setSize(miFileSize);
    mpFile->setResumeRequested(mHeaderData[3] == ZCRESUM);
    miPosition = 0;
    long position = 0;
    bool skip = false;
    int r = mpFile->openForWrite(position, skip);
    if (r) {
        finished(name, Outcome::Failed, r);
        return r;
    }
    miPosition = static_cast<int>(position);
    mbSkip = skip;
    if (mbSkip) {
        mpFile->close();
        finished(name, Outcome::Skipped, 0);
        sendZSKIP();
    } else {
        sendZRPOS(miPosition);
    }
    return 0;
}

int CZModem::receive_yz(bool memory) {
    int budget = ReceiverSetbacks;
    int headerErrors = 0;
    int dataRetries = 0;
    // A file session answers a damaged or lost frame once: ZRPOS inside a
    // file, ZRINIT (or ZNAK for a lost offer) between files. After an answer
    // to a frame whose subpacket end is still to come, that end is not
    // answered again (two answers would make the sender repeat itself twice);
    // a silent line always is.
    bool ownEndPending = false;
    bool askedSinceData = false;  // a ZRPOS went out since data last arrived
    // When the last ZACK went out: the next ZDATA header measures a round trip.
    std::optional<std::chrono::steady_clock::time_point> ackedAt;
    auto usedUp = [&]() { return --budget <= 0; };
    auto verdict = [&]() { return headerErrors <= 3 && !mpFile->isWriting() ? 0 : E::ErrProtocol; };
    int silentMs = 0;  // silence since the last setback it cost
    int silences = 0;  // silent waits in a row
    auto progress = [&]() {
        budget = ReceiverSetbacks;
        headerErrors = 0;
        askedSinceData = false;
        silentMs = 0;
    };
    auto askAgain = [&]() {
        if (mpFile->isWriting()) {
            sendZRPOS(miPosition);
            askedSinceData = true;
        } else if (sawStrayZCRCW()) {
            sendZNAK();
        } else {
            sendZRINIT(miEscapeAll);
        }
    };
    for (;;) {
        if (isAborted()) return E::ErrAborted;
        // After damage a silence of a few round trips means our answer was
        // lost: it is given again, after twice the wait each time the line
        // stays silent. The budget still counts ReceiverIdleMs of silence as one setback.
        const int idle =
            memory
                ? miTimeoutUnit * 100
                : static_cast<int>(std::min<long>(
                      static_cast<long>(adaptiveTimeout(MinReplyWaitMs, ReceiverIdleMs)) << silences, ReceiverIdleMs));
        int h = getZMHeader(idle);
        silences = h && isHeaderSilence() ? std::min(silences + 1, 10) : 0;
        const auto acked = ackedAt;  // only the header right after a ZACK measures the round trip
        ackedAt.reset();
        if (h == E::ErrCancelled) return h;
        if (h) {
            ++headerErrors;
            if (!memory) {
                noteDamage();
                if (isHeaderSilence()) {
                    askAgain();
                } else if (sawStrayZCRCW()) {
                    if (!ownEndPending) askAgain();
                    ownEndPending = false;
                } else if (!ownEndPending) {
                    askAgain();
                    ownEndPending = true;  // the damaged header's subpacket may follow
                }
            }
            if (!memory && isHeaderSilence() && (silentMs += idle) < ReceiverIdleMs) continue;
            silentMs = 0;
            if (usedUp()) return verdict();
            continue;
        }
        ownEndPending = false;
        switch (miHeaderType) {
            case ZRQINIT:
                progress();
                sendZRINIT(miEscapeAll);
                break;
            case ZSINIT: {
                miEscapeAll = mHeaderData[3] & ESCCTL;
                unsigned char d[4];
                std::memcpy(d, mHeaderData, 4);
                if (getInfoSubpacket() == E::ResultFrameEnd + ZCRCW) sendZACK_X(d);
                else sendZNAK();
                break;
            }
            case ZFILE: {
                progress();
                int r = receiveFileOffer();
                if (r) return r;
                break;
            }
            case ZDATA: {
                long sender = getHeaderPosition();
                if (acked) {
                    noteRoundTrip(static_cast<long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - *acked)
                            .count()));
                }
                if (!memory && !mpFile->isWriting()) break;  // no file takes it (skipped, or stale)
                if (!memory && sender != miPosition) {
                    noteDamage();
                    debug("Filepositionen mismatch (sender - receiver)" + dec(sender) + " - " + dec(miPosition) + "\n");
                    if (++dataRetries >= MaxDataRetries) {
                        mpFile->abandonWrite();
                        return E::ErrProtocol;
                    }
                    sendZRPOS(miPosition);
                    askedSinceData = ownEndPending = true;  // the duplicate's own subpacket follows
                    break;
                }
                budget = ReceiverSetbacks;  // the sender does what we asked: it is alive
                miFrameEndKind = 1;
                const long before = miPosition;
                int r = receiveData(memory);
                if (r == E::ErrAborted || r == E::ErrFile) return r;
                if (miPosition > before) {
                    // Data arrived, even if the frame then broke off: the retries start again.
                    dataRetries = 0;
                    progress();
                }
                if (r) {
                    // A subpacket that ended early (bad escape, too long) leaves its end to come.
                    askedSinceData = true;
                    ownEndPending = r != E::ErrBinCrc && r != E::ErrLinkTimeout;
                    if (++dataRetries >= MaxDataRetries) {
                        debug(" ** ZModem-error: No data from sender **\n");
                        if (memory) mpFile->close();
                        return E::ErrNoData;
                    }
                } else {
                    dataRetries = 0;
                    progress();
                    if (muCurrentCh == ZCRCW) ackedAt = std::chrono::steady_clock::now();  // receiveData said ZACK
                }
                break;
            }
            case ZEOF:
                if (memory) {
                    sendZRINIT(miEscapeAll);
                    return 0;
                }
                if (mpFile->isWriting() && getHeaderPosition() != miPosition) {
                    noteDamage();
                    // Data is missing: ask for it (once per loss).
                    if (!askedSinceData) sendZRPOS(miPosition);
                    askedSinceData = true;
                    break;
                }
                if (mpFile->isWriting()) {
                    Base::String name = mpFile->getBaseName();
                    if (!mpFile->finishWrite()) {
                        finished(name, Outcome::Failed, E::ErrFile);
                        return E::ErrFile;
                    }
                    finished(name, Outcome::Sent, 0);
                    progress();
                }
                sendZRINIT(miEscapeAll);  // also to a ZEOF repeated because our ZRINIT was lost
                break;
            case ZFIN: AckSessionClosure(); return 0;
            case ZNAK:
                // The sender found our last answer garbled: give it again.
                if (!memory) askAgain();
                else if (usedUp()) return verdict();
                break;
            case ZCOMPL: break;
            case ZCAN: return E::ErrCancelled;
            case ZFREECNT: sendZACK(0); break;
            case ZCOMMAND: {
                if (getInfoSubpacket() != E::ResultFrameEnd + ZCRCW) {
                    sendZNAK();
                    break;
                }
                std::memset(mHeaderData, 0, 4);
                miResult = 1;
                debug("Command : " + getCmdStr() + "\n");
                bool setback = false;
                for (int attempt = 1; attempt <= 20; ++attempt) {
                    sendZHEXHEADER(ZCOMPL, 0, 0, 0, 0);
                    if (getZMHeader(miTimeoutUnit * 100)) {
                        if (isAborted()) return E::ErrAborted;
                        setback = true;
                        break;
                    }
                    if (miHeaderType == ZFIN || attempt == 20) {
                        AckSessionClosure();
                        miResult = 1;
                        return 0;
                    }
                }
                if (setback && usedUp()) return verdict();
                break;
            }
            default:
                if (usedUp()) return verdict();
                break;
        }
    }
}

int CZModem::receiveData(bool memory) {
    Base::String name = memory ? Base::String("") : mpFile->getBaseName();
    for (;;) {
        mData.clear();
        int r = getData();
        if (isAborted()) return E::ErrAborted;
        if (r == 0) return 1;
        if (r < E::ResultFrameEnd + ZCRCE || r > E::ResultFrameEnd + ZCRCW) {
            noteDamage();
            // The rest of this frame is useless: ask for a restart at our
            // position. The sender answers with a fresh ZDATA header, which the
            // header loop finds past whatever of the old stream is still coming.
            sendZRPOS(miPosition);
            return r;
        }
        if (!mpFile->writeArray(mData)) {
            debug("error writing " + name + ": the session ends\n");
            if (!memory) finished(name, Outcome::Failed, E::ErrFile);
            if (!memory) mpFile->abandonWrite();
            return E::ErrFile;
        }
        mpFile->addProgress(static_cast<int>(mData.size()));
        if (mpObserver && !memory) mpObserver->fileProgress(name, static_cast<std::uint64_t>(miPosition));
        switch (r - E::ResultFrameEnd) {
            case ZCRCE: return 0;
            case ZCRCG: break;
            case ZCRCQ:
                // A windowing sender wants ZACK here; a ZRPOS would make it
                // restart the frame and shrink its subpackets.
                sendZACK(miPosition);
                break;
            default:  // ZCRCW
                sendZACK(miPosition);
                return 0;
        }
    }
}

void CZModem::AckSessionClosure() {
    bool gotO = false;
    for (int attempt = 0; attempt < 4 && !gotO; ++attempt) {
        sendZFIN();
        if (getNextCh(ClosureWaitMs)) return;
        gotO = muCurrentCh == 'O';
    }
    if (!gotO) return;
    if (getNextCh(SecondOWaitMs) == 0 && muCurrentCh == 'O') debug("got Over'n'Out\n");
}

}  // namespace ZModem
