#include <varonet/zmodem/CZModem.h>

#include <cstring>

#include <varonet/zmodem/CZModemComm.h>
#include <varonet/zmodem/CZModemFile.h>

namespace ZModem {

using E = ZModemErrors;

namespace {
constexpr int ChunkSize = 1024;          // file data per subpacket
constexpr int MaxReadRetries = 10;       // failed file reads in a row before giving up
constexpr int MaxIgnoredHeaders = 20;    // headers passed over while waiting for one that matters
Base::String dec(long value) { return Base::String::fromInteger(value); }
bool isFailure(int r) { return r < 0 || (r >= E::ErrHexCrc && r <= E::ErrDataWrite); }
}  // namespace

CZModem::CZModem(IO::Device* device) : CZModemCore(device, false), mpDevice(device) { miEscapeAll = 0; }

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
    for (int k = 0; k < 4; ++k) mHeaderData[k] = static_cast<unsigned char>(static_cast<unsigned long>(value) >> (8 * k));
}

int CZModem::sendZHexHeader(int type, unsigned char byte) {
    unsigned char d[4] = {0, 0, 0, byte};
    setHeader(ZHEX, type, d);
    return sendHeader();
}

int CZModem::sendZHEXHEADER(int type, int p0, int p1, int p2, int p3) {
    unsigned char d[4] = {static_cast<unsigned char>(p0), static_cast<unsigned char>(p1), static_cast<unsigned char>(p2),
                          static_cast<unsigned char>(p3)};
    setHeader(ZHEX, type, d);
    return sendHeader();
}

int CZModem::sendZBINHEADER(int type, long value, unsigned char byte) {
    stohdr(value);
    mHeaderData[3] = byte;
    mcHeaderFormat = ZBIN32;
    miHeaderType = type;
    return sendHeader();
}

// ---------------------------------------------------------------- sending

int CZModem::sendez(const Base::String& commandOrFile, int mode, int length) {
    ResetAll();
    miTimeoutUnit = 600;
    mcReceiverFlags = 0;
    miBlockSize = 8192;
    miRequestedBlockSize = 0;
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

int CZModem::sendez(Base::MemoryDevice* memory) {
    ResetAll();
    mcReceiverFlags = 0;
    miRequestedBlockSize = 0;
    miTimeoutUnit = 600;
    miBlockSize = 8192;
    if (!mpFile->useMemoryDevice(memory)) return E::ErrFile;
    return sendFileData();
}

int CZModem::getzrxinit() {
    int budget = 5;
    for (;;) {
        if (budget < 0) return E::ErrProtocol;
        int r = getZMHeader(10000);
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
        if (r) return r;
        if (isAborted()) return E::ErrAborted;
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
    if (r == 0) {
        r = sendZFIN();
        if (r == 0) {
            r = getZMHeader(miTimeoutUnit * 100);
            if (r == 0) {
                if (miHeaderType == ZFIN) sendOO();
                return 0;
            }
        }
    }
    return r;
}

int CZModem::sendFile(const Base::String& name) {
    if (!mpFile->openForRead(name)) return E::ErrFile;
    debug("SendFile " + name + "\n");
    miPosition = 0;
    bool offered = false;
    int failures = 0;
    int result = 0;
    bool done = false;
    while (!done && failures < 10) {
        if (isAborted()) {
            result = E::ErrAborted;
            break;
        }
        if (!offered) {
            int r = sendZFILE();
            if (r == 0) r = sendFILEINFO();
            if (r) {
                result = r;
                ++failures;
                continue;
            }
            offered = true;
        }
        int r = getZMHeader(miTimeoutUnit * 100);
        if (r) {
            result = r;
            ++failures;
            offered = false;  // the offer may have been lost: make it again
            continue;
        }
        switch (miHeaderType) {
            case ZRINIT:  // the receiver repeats its ZRINIT; the offer stands
                result = E::ErrProtocol;
                ++failures;
                break;
            case ZSKIP:
                debug("got ZSKIP\n");
                result = 0;
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
                done = true;
                break;
            }
            case ZCRC: debug("got ZCRC, no action\n"); ++failures; break;
            default: ++failures; break;  // bounded like the failures
        }
    }
    mpFile->close();
    return result;
}

int CZModem::sendFileData() {
    debug("sendFileData \n");
    enum { StateRead = 0, StateEof = 1, StateSend = 2, StateReposition = 3, StateWaitEnd = 4 };
    int state = StateRead;
    int result = 0;
    int readFailures = 0;
    int ignored = 0;
    int length = 0;
    auto readNext = [&]() -> int {  // 0 data, 1 end, -1 failure
        int r = mpFile->readChunk(mData, ChunkSize, length);
        miDataLength = length;
        return r;
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
            if (length < ChunkSize) miFrameEndKind = KindZCRCE;
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
            r = getZMHeader(miTimeoutUnit * 300);
            if (r) {
                result = r;
                break;
            }
            if (miHeaderType == ZRPOS) {
                state = StateReposition;
            } else if (miHeaderType == ZACK) {
                mpFile->addProgress(miDataLength);
                if (debugging()) debug("ZACK lastpos: " + dec(getHeaderPosition()) + "\n");
                state = StateRead;
            } else {
                if (++ignored > MaxIgnoredHeaders) {
                    result = E::ErrProtocol;
                    break;
                }
                // Not an answer to wait for: go on with the next subpacket of this frame.
                int rr = readNext();
                if (rr < 0) {
                    result = E::ErrFile;
                    break;
                }
                if (rr == 1 || length < ChunkSize) miFrameEndKind = KindZCRCE;
            }
        } else if (state == StateReposition) {
            long position = getHeaderPosition();
            if (debugging()) debug("ZRPOS newpos: " + dec(position) + "\n");
            mpFile->seek(position);
            miPosition = static_cast<int>(position);
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
            int r = getZMHeader(miTimeoutUnit * 100);
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
            if (r) {
                result = r;
                break;
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
        std::size_t fromText = static_cast<std::size_t>(length) < command.length() ? static_cast<std::size_t>(length)
                                                                                   : command.length();
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
    int r = wait_rz(count);
    if (r) return r;
    miTimeoutUnit = 600;
    r = receive_yz(false);
    mpFile->flush();  // whatever arrived is on disk when the call returns
    if (r) {
        canit();
        return r;
    }
    return miResult;
}

int CZModem::rec_z(Base::MemoryDevice* memory) {
    ResetAll();
    miResult = 0;
    miTimeoutUnit = 600;
    if (!mpFile->useMemoryDevice(memory)) return E::ErrFile;
    return receive_yz(true);
}

int CZModem::wait_rz(int count) {
    static const char pattern[3] = {'r', 'z', '\r'};
    int matched = 0;
    for (;;) {
        if (isAborted()) return E::ErrAborted;
        if (count < 1) return E::ErrNoRz;
        if (getNextCh(60000)) {
            --count;
            continue;
        }
        char c = static_cast<char>(muCurrentCh);
        if (c == pattern[matched]) {
            if (++matched == 3) return 0;
        } else {
            matched = c == pattern[0] ? 1 : 0;
        }
    }
}

int CZModem::receive_yz(bool memory) {
    int budget = 5;
    int headerErrors = 0;
    int dataRetries = 0;
    auto usedUp = [&]() { return --budget <= 0; };
    auto verdict = [&]() { return headerErrors <= 3 ? 0 : E::ErrProtocol; };
    for (;;) {
        if (isAborted()) return E::ErrAborted;
        if (getZMHeader(miTimeoutUnit * 100)) {
            ++headerErrors;
            if (usedUp()) return verdict();
            continue;
        }
        switch (miHeaderType) {
            case ZRQINIT: sendZRINIT(miEscapeAll); break;
            case ZSINIT: {
                miEscapeAll = mHeaderData[3] & ESCCTL;
                unsigned char d[4];
                std::memcpy(d, mHeaderData, 4);
                mData.clear();
                if (getData() == E::ResultFrameEnd + ZCRCW) sendZACK_X(d);
                else sendZNAK();
                break;
            }
            case ZFILE: {
                mData.clear();
                if (getData() != E::ResultFrameEnd + ZCRCW) {
                    sendZNAK();
                    break;
                }
                // "name\0size[ mtime mode ...]": only the name and the size matter here.
                std::size_t i = 0;
                Base::String name("");
                while (i < mData.size() && mData[i] != 0) name += static_cast<char>(mData[i++]);
                ++i;
                long long size = 0;
                while (i < mData.size() && mData[i] >= '0' && mData[i] <= '9' && size < 0x7FFFFFFF)
                    size = size * 10 + (mData[i++] - '0');
                miFileSize = static_cast<int>(size);
                mpFile->setReceiveNames(msPath, name);
                mpFile->setSize(miFileSize);
                miPosition = 0;
                long position = 0;
                bool skip = false;
                int r = mpFile->openForWrite(position, skip);
                if (r) return r;
                miPosition = static_cast<int>(position);
                mbSkip = skip;
                if (mbSkip) {
                    mpFile->close();
                    sendZSKIP();
                } else {
                    sendZRPOS(miPosition);
                }
                break;
            }
            case ZDATA: {
                long sender = getHeaderPosition();
                if (!memory && sender != miPosition) {
                    debug("Filepositionen mismatch (sender - receiver)" + dec(sender) + " - " + dec(miPosition) + "\n");
                    if (++dataRetries >= 5) {
                        mpFile->close();
                        return E::ErrProtocol;
                    }
                    sendZRPOS(miPosition);
                    break;
                }
                miFrameEndKind = 1;
                int r = receiveData(memory);
                if (r == E::ErrAborted) return r;
                if (r) {
                    if (++dataRetries >= 5) {
                        debug(" ** ZModem-error: No data from sender **\n");
                        mpFile->close();
                        return E::ErrNoData;
                    }
                } else {
                    dataRetries = 0;
                }
                break;
            }
            case ZEOF:
                if (!memory && getHeaderPosition() != miPosition) break;  // data still missing
                sendZRINIT(miEscapeAll);
                if (memory) return 0;
                mpFile->close();
                break;
            case ZFIN: AckSessionClosure(); return 0;
            case ZCOMPL: break;
            case ZCAN: return E::ErrCancelled;
            case ZFREECNT: sendZACK(0); break;
            case ZCOMMAND: {
                mData.clear();
                if (getData() != E::ResultFrameEnd + ZCRCW) {
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

int CZModem::receiveData(bool /*memory*/) {
    for (;;) {
        mData.clear();
        int r = getData();
        if (isAborted()) return E::ErrAborted;
        if (r == 0) return 1;
        if (r < E::ResultFrameEnd + ZCRCE || r > E::ResultFrameEnd + ZCRCW) {
            // The rest of this frame is useless: ask for a restart at our
            // position. The sender answers with a fresh ZDATA header, which the
            // header loop finds past whatever of the old stream is still coming.
            sendZRPOS(miPosition);
            return r;
        }
        mpFile->writeArray(mData);
        mpFile->addProgress(static_cast<int>(mData.size()));
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
        if (getNextCh(60000)) return;
        gotO = muCurrentCh == 'O';
    }
    if (!gotO) return;
    if (getNextCh(1000) == 0 && muCurrentCh == 'O') debug("got Over'n'Out\n");
}

}  // namespace ZModem
