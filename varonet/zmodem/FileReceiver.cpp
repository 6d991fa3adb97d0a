// ZModem::FileReceiver: the receiving session, one method per frame it answers.
#include <varonet/zmodem/detail/FileReceiver.h>

#include <algorithm>
#include <cstring>

#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/detail/CZModemFile.h>
#include <varonet/zmodem/detail/FileOffer.h>

namespace ZModem {

using E = ZModemErrors;
using Outcome = TransferObserver::Outcome;

namespace {
constexpr int MaxDataRetries = 40;    // frames in a row that brought no data
constexpr int ReceiverSetbacks = 5;   // setbacks since the last progress
constexpr int CommandAttempts = 20;   // ZCOMPL sent without the sender's ZFIN
constexpr unsigned char ZCRESUM = 3;  // ZFILE ZF0: the sender asks to resume
constexpr unsigned char ZMCLOB = 4;   // ZFILE ZF1: the sender asks to replace an existing file
Base::String dec(long value) { return Base::String::fromInteger(value); }
}  // namespace

FileReceiver::FileReceiver(CZModem& session, bool memory) : mZ(session), mbMemory(memory), miBudget(ReceiverSetbacks) {}

int FileReceiver::verdict() const { return miHeaderErrors <= 3 && !mZ.mpFile->isWriting() ? 0 : E::ErrProtocol; }

void FileReceiver::progress() {
    miBudget = ReceiverSetbacks;
    miHeaderErrors = 0;
    mbAskedSinceData = false;
    miSilentMs = 0;
}

void FileReceiver::askAgain() {
    if (mZ.mpFile->isWriting()) {
        mZ.sendZRPOS(mZ.miPosition);
        mbAskedSinceData = true;
    } else if (mZ.sawStrayZCRCW()) {
        mZ.sendZNAK();
    } else {
        mZ.sendZRINIT(mZ.miEscapeAll);
    }
}

int FileReceiver::idleWait() const {
    // After damage a silence of a few round trips means our answer was lost:
    // it is given again, after twice the wait each time the line stays
    // silent. The budget still counts ReceiverIdleMs of silence as one setback.
    if (mbMemory) return mZ.miTimeoutUnit * 100;
    const long wait = static_cast<long>(mZ.adaptiveTimeout(CZModem::MinReplyWaitMs, CZModem::ReceiverIdleMs))
                      << miSilences;
    return static_cast<int>(std::min<long>(wait, CZModem::ReceiverIdleMs));
}

int FileReceiver::run() {
    for (;;) {
        if (const Step end = awaitHeader()) return *end;
    }
}

FileReceiver::Step FileReceiver::awaitHeader() {
    if (mZ.isAborted()) return E::ErrAborted;
    const int idle = idleWait();
    const int h = mZ.getZMHeader(idle);
    miSilences = h && mZ.isHeaderSilence() ? std::min(miSilences + 1, 10) : 0;
    const auto acked = mAckedAt;  // only the header right after a ZACK measures the round trip
    mAckedAt.reset();
    if (h) return headerFailed(h, idle);
    mbOwnEndPending = false;
    switch (mZ.miHeaderType) {
        case CZModem::ZRQINIT:
            progress();
            mZ.sendZRINIT(mZ.miEscapeAll);
            return {};
        case CZModem::ZSINIT: return settings();
        case CZModem::ZFILE: progress(); return offer();
        case CZModem::ZDATA:
            if (acked) {
                mZ.noteRoundTrip(static_cast<long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - *acked)
                        .count()));
            }
            return data();
        case CZModem::ZEOF: return endOfFile();
        case CZModem::ZFIN: mZ.AckSessionClosure(); return 0;
        case CZModem::ZNAK:
            // The sender found our last answer garbled: give it again.
            if (!mbMemory) askAgain();
            else if (usedUp()) return verdict();
            return {};
        case CZModem::ZCOMPL: return {};
        case CZModem::ZCAN: return E::ErrCancelled;
        case CZModem::ZFREECNT: mZ.sendZACK(0); return {};
        case CZModem::ZCOMMAND: return command();
        default: return usedUp() ? Step(verdict()) : Step();
    }
}

FileReceiver::Step FileReceiver::headerFailed(int h, int idle) {
    if (h == E::ErrCancelled) return h;
    ++miHeaderErrors;
    if (!mbMemory) {
        mZ.noteDamage();
        if (mZ.isHeaderSilence()) {
            askAgain();
        } else if (mZ.sawStrayZCRCW()) {
            if (!mbOwnEndPending) askAgain();
            mbOwnEndPending = false;
        } else if (!mbOwnEndPending) {
            askAgain();
            mbOwnEndPending = true;  // the damaged header's subpacket may follow
        }
        if (mZ.isHeaderSilence() && (miSilentMs += idle) < CZModem::ReceiverIdleMs) return {};
    }
    miSilentMs = 0;
    return usedUp() ? Step(verdict()) : Step();
}

FileReceiver::Step FileReceiver::settings() {
    mZ.miEscapeAll = mZ.mHeaderData[3] & CZModem::ESCCTL;
    unsigned char d[4];
    std::memcpy(d, mZ.mHeaderData, 4);
    if (mZ.getInfoSubpacket() == E::ResultFrameEnd + CZModem::ZCRCW) mZ.sendZACK_X(d);
    else mZ.sendZNAK();
    return {};
}

FileReceiver::Step FileReceiver::offer() {
    const unsigned char conversion = mZ.mHeaderData[3], management = mZ.mHeaderData[2];
    if (mZ.getInfoSubpacket() != E::ResultFrameEnd + CZModem::ZCRCW) {
        mZ.sendZNAK();
        return {};
    }
    const FileOffer offered = FileOffer::parse(mZ.mData);
    CZModemFile& file = *mZ.mpFile;
    if (file.isWriting()) {
        if (file.getBaseName() == offered.name) {
            mZ.sendZRPOS(mZ.miPosition);  // the same offer again: its answer was lost
            return {};
        }
        const Base::String previous = file.getBaseName();
        file.abandonWrite();
        mZ.finished(previous, Outcome::Failed, E::ErrProtocol);
    }
    if (mZ.mpObserver) mZ.mpObserver->fileStarted(offered.name, static_cast<std::uint64_t>(offered.size));
    if (offered.size > CZModemFile::MaxFileSize) {
        CZModem::debug("error open file " + offered.name + " : file larger than 2 GiB - 1\n");
        if (!mZ.miFileFailure) mZ.miFileFailure = E::ErrFileTooLarge;
        mZ.finished(offered.name, Outcome::Failed, E::ErrFileTooLarge);
        mZ.sendZSKIP();
        return {};
    }
    mZ.miFileSize = static_cast<int>(offered.size);
    file.setReceiveNames(mZ.msPath, offered.name);
    file.setSize(mZ.miFileSize);
    file.setResumeRequested(conversion == ZCRESUM);
    file.setReplaceRequested((management & 0x1F) == ZMCLOB);
    if (mZ.mSettings.keepTimeAndMode) file.setTimeAndMode(offered.mtime, offered.mode);
    mZ.miPosition = 0;
    long position = 0;
    bool skip = false;
    if (const int r = file.openForWrite(position, skip)) {
        mZ.finished(offered.name, Outcome::Failed, r);
        return r;
    }
    mZ.miPosition = static_cast<int>(position);
    mZ.mbSkip = skip;
    if (skip) {
        file.close();
        mZ.finished(offered.name, Outcome::Skipped, 0);
        mZ.sendZSKIP();
    } else {
        mZ.sendZRPOS(mZ.miPosition);
    }
    return {};
}

FileReceiver::Step FileReceiver::data() {
    const long sender = mZ.getHeaderPosition();
    if (!mbMemory && !mZ.mpFile->isWriting()) return {};  // no file takes it (skipped, or stale)
    if (!mbMemory && sender != mZ.miPosition) {
        mZ.noteDamage();
        CZModem::debug("Filepositionen mismatch (sender - receiver)" + dec(sender) + " - " + dec(mZ.miPosition) + "\n");
        // Given up: the session's end abandons the file and reports it.
        if (++miDataRetries >= MaxDataRetries) return E::ErrProtocol;
        mZ.sendZRPOS(mZ.miPosition);
        mbAskedSinceData = mbOwnEndPending = true;  // the duplicate's own subpacket follows
        return {};
    }
    miBudget = ReceiverSetbacks;  // the sender does what we asked: it is alive
    mZ.miFrameEndKind = 1;
    const long before = mZ.miPosition;
    const int r = receiveData();
    if (r == E::ErrAborted || r == E::ErrFile) return r;
    if (mZ.miPosition > before) {
        // Data arrived, even if the frame then broke off: the retries start again.
        miDataRetries = 0;
        progress();
    }
    if (r == 0) {
        miDataRetries = 0;
        progress();
        if (mZ.muCurrentCh == CZModem::ZCRCW) mAckedAt = std::chrono::steady_clock::now();  // receiveData said ZACK
        return {};
    }
    // A subpacket that ended early (bad escape, too long) leaves its end to come.
    mbAskedSinceData = true;
    mbOwnEndPending = r != E::ErrBinCrc && r != E::ErrLinkTimeout;
    if (++miDataRetries < MaxDataRetries) return {};
    CZModem::debug(" ** ZModem-error: No data from sender **\n");
    if (mbMemory) mZ.mpFile->close();
    return E::ErrNoData;
}

int FileReceiver::receiveData() {
    const Base::String name = mbMemory ? Base::String("") : mZ.mpFile->getBaseName();
    for (;;) {
        mZ.mData.clear();
        const int r = mZ.getData();
        if (mZ.isAborted()) return E::ErrAborted;
        if (r == 0) return 1;
        if (r < E::ResultFrameEnd + CZModem::ZCRCE || r > E::ResultFrameEnd + CZModem::ZCRCW) {
            mZ.noteDamage();
            // The rest of this frame is useless: ask for a restart at our
            // position. The sender answers with a fresh ZDATA header, which the
            // header loop finds past whatever of the old stream is still coming.
            mZ.sendZRPOS(mZ.miPosition);
            return r;
        }
        if (!mZ.mpFile->writeArray(mZ.mData)) {
            CZModem::debug("error writing " + name + ": the session ends\n");
            if (!mbMemory) mZ.finished(name, Outcome::Failed, E::ErrFile);
            if (!mbMemory) mZ.mpFile->abandonWrite();
            return E::ErrFile;
        }
        mZ.mpFile->addProgress(static_cast<int>(mZ.mData.size()));
        if (mZ.mpObserver && !mbMemory) mZ.mpObserver->fileProgress(name, static_cast<std::uint64_t>(mZ.miPosition));
        switch (r - E::ResultFrameEnd) {
            case CZModem::ZCRCE: return 0;
            case CZModem::ZCRCG: break;
            // A windowing sender wants ZACK at ZCRCQ; a ZRPOS would make it
            // restart the frame and shrink its subpackets.
            case CZModem::ZCRCQ: mZ.sendZACK(mZ.miPosition); break;
            default: mZ.sendZACK(mZ.miPosition); return 0;  // ZCRCW
        }
    }
}

FileReceiver::Step FileReceiver::endOfFile() {
    if (mbMemory) {
        mZ.sendZRINIT(mZ.miEscapeAll);
        return 0;
    }
    CZModemFile& file = *mZ.mpFile;
    if (file.isWriting() && mZ.getHeaderPosition() != mZ.miPosition) {
        mZ.noteDamage();
        // Data is missing: ask for it (once per loss).
        if (!mbAskedSinceData) mZ.sendZRPOS(mZ.miPosition);
        mbAskedSinceData = true;
        return {};
    }
    if (file.isWriting()) {
        const Base::String name = file.getBaseName();
        if (!file.finishWrite()) {
            mZ.finished(name, Outcome::Failed, E::ErrFile);
            return E::ErrFile;
        }
        mZ.finished(name, Outcome::Sent, 0);
        progress();
    }
    mZ.sendZRINIT(mZ.miEscapeAll);  // also to a ZEOF repeated because our ZRINIT was lost
    return {};
}

FileReceiver::Step FileReceiver::command() {
    if (mZ.getInfoSubpacket() != E::ResultFrameEnd + CZModem::ZCRCW) {
        mZ.sendZNAK();
        return {};
    }
    std::memset(mZ.mHeaderData, 0, 4);
    mZ.miResult = 1;
    CZModem::debug("Command : " + mZ.getCmdStr() + "\n");
    for (int attempt = 1; attempt <= CommandAttempts; ++attempt) {
        mZ.sendZHEXHEADER(CZModem::ZCOMPL, 0, 0, 0, 0);
        if (mZ.getZMHeader(mZ.miTimeoutUnit * 100)) {
            if (mZ.isAborted()) return E::ErrAborted;
            return usedUp() ? Step(verdict()) : Step();
        }
        if (mZ.miHeaderType == CZModem::ZFIN || attempt == CommandAttempts) {
            mZ.AckSessionClosure();
            mZ.miResult = 1;
            return 0;
        }
    }
    return {};
}

}  // namespace ZModem
