// ZModem::CZModem: the sending sessions (files, a command, a memory exchange).
#include <varonet/zmodem/CZModem.h>

#include <algorithm>
#include <cstring>

#include <varonet/zmodem/detail/CZModemComm.h>
#include <varonet/zmodem/detail/CZModemFile.h>
#include <varonet/zmodem/detail/FileSender.h>

namespace ZModem {

using E = ZModemErrors;

namespace {
constexpr int ChunkSize = 1024;        // file data per subpacket on a clean line
constexpr int MaxIgnoredHeaders = 20;  // headers passed over while waiting for one that matters
constexpr int MaxFinTries = 5;         // ZFIN sent without the peer's ZFIN
constexpr int ZrinitWaitMs = 10000;    // sender's wait for ZRINIT before repeating ZRQINIT
using Outcome = TransferObserver::Outcome;
bool isFailure(int r) { return r < 0 || (r >= E::ErrHexCrc && r <= E::ErrFileTooLarge); }
Base::String directoryOf(const Base::String& path) { return path.isEmpty() || path.endsWith("/") ? path : path + "/"; }
}  // namespace

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
        Base::String path = directoryOf(msPath) + commandOrFile;
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
    announceRest({commandOrFile}, 0);
    int r = wcsend(commandOrFile);
    if (r) canit();
    return r;
}

int CZModem::sendFiles(const std::vector<Base::String>& paths) {
    startSend();
    auto full = [&](const Base::String& path) { return path.startsWith("/") ? path : directoryOf(msPath) + path; };
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
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const Base::String& path = paths[k];
        mpFile->setSendNames(path.startsWith("/") ? Base::String("") : msPath, "");
        announceRest(paths, k);
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

void CZModem::announceRest(const std::vector<Base::String>& paths, std::size_t from) {
    if (mSettings.offer != SessionSettings::Offer::Full) return;
    long long bytes = 0;
    for (std::size_t k = from; k < paths.size(); ++k) {
        const Base::String& path = paths[k];
        bytes += std::max(0LL, CZModemFile::lengthOf(path.startsWith("/") ? path : directoryOf(msPath) + path));
    }
    mpFile->setFullOffer(static_cast<int>(paths.size() - from), bytes);
}

int CZModem::sendFile(const Base::String& name) {
    if (!mpFile->openForRead(name)) {
        if (mpObserver) mpObserver->fileStarted(name, 0);
        finished(name, Outcome::Failed, E::ErrFile);
        return E::ErrFile;
    }
    const Base::String shown = mpFile->getBaseName();
    if (mpObserver) mpObserver->fileStarted(shown, static_cast<std::uint64_t>(mpFile->getSize()));
    debug("SendFile " + name + "\n");
    miPosition = 0;
    FileSender sender(*this, false);
    int result = sender.sendFile();
    mpFile->close();
    const Outcome outcome = sender.outcome();
    if (outcome == Outcome::Failed && result == 0) result = E::ErrProtocol;  // the offer was never settled
    finished(shown, outcome, outcome == Outcome::Failed ? result : 0);
    return result;
}

int CZModem::sendFileData() { return FileSender(*this, true).sendData(); }

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

}  // namespace ZModem
