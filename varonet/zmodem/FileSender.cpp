// ZModem::FileSender: the offer of one file and its data phase, classic or streamed.
#include <varonet/zmodem/detail/FileSender.h>

#include <algorithm>

#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/detail/CZModemComm.h>
#include <varonet/zmodem/detail/CZModemFile.h>

namespace ZModem {

using E = ZModemErrors;

namespace {
constexpr int ChunkSize = 1024;        // file data per subpacket on a clean line
constexpr int MinChunkSize = 256;      // ... and after damage, at least
constexpr int CleanRunToGrow = 8;      // answers in a row before the subpacket grows again
constexpr int MinWindow = 4096;        // a streaming window never shrinks below this
constexpr int MaxReadRetries = 10;     // failed file reads in a row before giving up
constexpr int MaxIgnoredHeaders = 20;  // headers passed over while waiting for one that matters
constexpr int MaxResends = 20;         // re-sends from one position without progress
constexpr int MaxOfferTries = 10;      // ZFILE offers without an answer that settles them
constexpr int MinSettleMs = 5;         // least wait for the answer that may follow a doubtful ZRPOS
constexpr int EchoWaitMs = 2000;       // a ZRINIT after the offer may be an echo: wait for what follows
constexpr unsigned char CanStream = CZModemCore::CANFDX | CZModemCore::CANOVIO;
Base::String dec(long value) { return Base::String::fromInteger(value); }
long microsSince(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - since).count());
}
}  // namespace

FileSender::FileSender(CZModem& session, bool memory) : mZ(session), mbMemory(memory) {}

int FileSender::sendFile() { return run(State::Offer); }

int FileSender::sendData() {
    CZModem::debug("sendFileData \n");
    mlConfirmed = mZ.miPosition;
    return run(State::Read);
}

int FileSender::run(State state) {
    while (state != State::Done) {
        switch (state) {
            case State::Offer: state = offer(); break;
            case State::AwaitOfferAnswer: state = awaitOfferAnswer(); break;
            case State::Read: state = read(); break;
            case State::Send: state = send(); break;
            case State::AwaitAck: state = awaitAck(); break;
            case State::Stream: state = stream(); break;
            case State::AwaitWindow: state = awaitWindow(); break;
            case State::Reposition: state = reposition(); break;
            case State::EndOfFile: state = endOfFile(); break;
            case State::AwaitEnd: state = awaitEnd(); break;
            case State::Done: break;
        }
    }
    return miResult;
}

FileSender::State FileSender::finish(int code) {
    miResult = code;
    CZModem::debug("SendData finished with 0x" + Base::String::fromUnsigned(static_cast<unsigned int>(code), 16) +
                   "\n");
    if (code == 0) meOutcome = TransferObserver::Outcome::Sent;
    return State::Done;
}

FileSender::State FileSender::aborted() {
    miResult = E::ErrAborted;
    return State::Done;
}

// ---------------------------------------------------------------- the offer

FileSender::State FileSender::offer() {
    if (miOfferFailures >= MaxOfferTries) return State::Done;
    if (mZ.isAborted()) return aborted();
    int r = mZ.sendZFILE();
    if (r == 0) r = mZ.sendFILEINFO();
    if (r) {
        miResult = r;
        return State::Done;
    }
    mOfferedAt = Clock::now();
    ++miOffers;
    mbEchoWaited = false;
    return State::AwaitOfferAnswer;
}

FileSender::State FileSender::awaitOfferAnswer() {
    if (miOfferFailures >= MaxOfferTries) return State::Done;
    if (mZ.isAborted()) return aborted();
    if (!mbHaveHeader) {
        const int r = mZ.getZMHeader(CZModem::ReplyWaitMs);
        if (r == E::ErrCancelled) return (miResult = r, State::Done);
        if (r) {
            miResult = r;
            ++miOfferFailures;
            return State::Offer;  // the offer or its answer was lost: make it again
        }
    }
    mbHaveHeader = false;
    switch (mZ.miHeaderType) {
        case CZModem::ZRINIT:
            // The receiver repeats its ZRINIT: an echo of an earlier request is
            // followed by the answer to the offer; without one, or with a
            // second ZRINIT, the offer was lost and is made again.
            miResult = E::ErrProtocol;
            ++miOfferFailures;
            if (mbEchoWaited || mZ.getZMHeader(EchoWaitMs) != 0) return State::Offer;
            mbHaveHeader = mbEchoWaited = true;
            return State::AwaitOfferAnswer;
        case CZModem::ZSKIP:
            CZModem::debug("got ZSKIP\n");
            miResult = 0;
            meOutcome = TransferObserver::Outcome::Skipped;
            return State::Done;
        case CZModem::ZNAK:
            CZModem::debug("got ZNAK\n");
            ++miOfferFailures;
            return State::Offer;
        case CZModem::ZRPOS: return startData();
        case CZModem::ZCRC: CZModem::debug("got ZCRC, no action\n"); break;
        case CZModem::ZCAN: miResult = E::ErrCancelled; return State::Done;
        default: break;
    }
    ++miOfferFailures;  // bounded like the failures
    return State::AwaitOfferAnswer;
}

FileSender::State FileSender::startData() {
    const long position = mZ.getHeaderPosition();
    CZModem::debug("got ZRPOS " + dec(position) + "\n");
    mZ.mpFile->seek(position);
    mZ.miPosition = static_cast<int>(position);
    mlConfirmed = position;
    const int window = mZ.mSettings.window;
    const int buffer = mZ.miBlockSize;  // the receiver's, from its ZRINIT; 0: none
    mbWindowed = window > 0;
    if (mbWindowed) {
        // A clean line answers the offer in one round trip: the first measure of it.
        if (miOffers == 1) noteRoundTrip(microsSince(mOfferedAt));
        mbStreaming = (mZ.mcReceiverFlags & CanStream) == CanStream && buffer == 0;
        miWindow = window;
        miSegment = buffer > 0 ? std::min(window, buffer) : window;
    }
    CZModem::debug("sendFileData \n");
    meDataState = mbWindowed ? State::Stream : State::Read;
    return meDataState;
}

// ---------------------------------------------------------------- the classic data phase

int FileSender::readNext(int max) {
    const int r = mZ.mpFile->readChunk(mZ.mData, max, miLength);
    mZ.miDataLength = miLength;
    if (r >= 0) miReadFailures = 0;
    return r;
}

int FileSender::dataWait() const {
    // A frame's answer comes within a round trip: once the line has shown
    // damage, a file session waits a few round trips before it sends the
    // frame again, twice as long after each silence (never longer than ReplyWaitMs).
    if (mbMemory) return mZ.miTimeoutUnit * 300;
    const long wait = static_cast<long>(mZ.adaptiveTimeout(CZModem::MinReplyWaitMs, CZModem::ReplyWaitMs))
                      << miSilences;
    return static_cast<int>(std::min<long>(wait, CZModem::ReplyWaitMs));
}

FileSender::State FileSender::read() {
    mZ.miFrameEndKind = CZModem::KindZCRCW;
    const int r = readNext(mZ.miChunk);
    if (r < 0) {
        if (++miReadFailures >= MaxReadRetries) return finish(E::ErrFile);
        mZ.mpFile->seek(mZ.miPosition);
        return State::Read;
    }
    if (r == 1) {
        mZ.miFrameEndKind = CZModem::KindZCRCE;
        return State::EndOfFile;
    }
    // The ZDATA header waits and leaves in the same write as the subpacket.
    mZ.mpComm->setDirect(false);
    mZ.sendZDATA(mZ.miPosition);
    mZ.mpComm->setDirect(true);
    if (miLength < mZ.miChunk) mZ.miFrameEndKind = CZModem::KindZCRCE;
    return State::Send;
}

FileSender::State FileSender::send() {
    const int r = mZ.sendData32(mZ.mData.data(), mZ.miDataLength, mZ.frameEndOf(mZ.miFrameEndKind));
    if (r) return finish(r);
    mZ.miPosition += mZ.miDataLength;
    if (mZ.miFrameEndKind == CZModem::KindZCRCE) return State::EndOfFile;
    mSentAt = Clock::now();
    mbSettled = false;
    mbHaveHeader = false;
    return State::AwaitAck;
}

FileSender::State FileSender::awaitAck() {
    const int r = mbHaveHeader ? 0 : mZ.getZMHeader(dataWait());
    mbHaveHeader = false;
    miSilences = r && mZ.isHeaderSilence() ? std::min(miSilences + 1, 10) : 0;
    if (mZ.isAborted()) return aborted();
    const int type = r ? -1 : mZ.miHeaderType;
    const long position = mZ.getHeaderPosition();
    if (r == E::ErrCancelled || type == CZModem::ZCAN) return finish(E::ErrCancelled);
    if (type == CZModem::ZFERR) return finish(E::ErrReceiverFileError);
    if (r && mbMemory) return finish(r);
    // Either this frame was damaged, or the answer belongs to an earlier frame
    // (some receivers answer one damaged frame twice).
    if (type == CZModem::ZRPOS && position == mlConfirmed && !mbMemory && !mbSettled) return settle();
    if (type == CZModem::ZRPOS && position >= mlConfirmed) return State::Reposition;
    if (type == CZModem::ZACK && position == mZ.miPosition) return acknowledged();
    if (type == CZModem::ZACK || type == CZModem::ZRPOS) {
        // An answer to an earlier frame: the one to this frame is still to come.
        if (++miIgnored <= MaxIgnoredHeaders) return State::AwaitAck;
        return finish(E::ErrProtocol);
    }
    if (sendAgain()) return State::Read;  // damaged, unexpected or no answer
    return finish(r ? r : E::ErrProtocol);
}

FileSender::State FileSender::settle() {
    // The answer to this frame, if it comes, follows within a round trip;
    // without one the frame is sent again.
    mbSettled = true;
    if (mZ.getZMHeader(mZ.mlRoundTripUs < 0 ? MinSettleMs : mZ.roundTripTimeout(1, CZModem::ReplyWaitMs)) == 0) {
        mbHaveHeader = true;
        return State::AwaitAck;
    }
    unsigned char d[4];
    for (int k = 0; k < 4; ++k) d[k] = static_cast<unsigned char>(mlConfirmed >> (8 * k));
    mZ.setHeader(CZModem::ZHEX, CZModem::ZRPOS, d);
    return State::Reposition;
}

FileSender::State FileSender::acknowledged() {
    mZ.mpFile->addProgress(mZ.miDataLength);
    if (CZModem::debugging()) CZModem::debug("ZACK lastpos: " + dec(mZ.getHeaderPosition()) + "\n");
    mlConfirmed = mZ.miPosition;
    miResends = 0;
    miIgnored = 0;
    if (!mbSettled && mbFirstTry) mZ.noteRoundTrip(microsSince(mSentAt));
    mbFirstTry = true;
    if (++miCleanRun >= CleanRunToGrow && mZ.miChunk < ChunkSize) {
        mZ.miChunk *= 2;
        miCleanRun = 0;
    }
    if (mZ.mpObserver && !mbMemory)
        mZ.mpObserver->fileProgress(mZ.mpFile->getBaseName(), static_cast<std::uint64_t>(mlConfirmed));
    return State::Read;
}

bool FileSender::sendAgain() {
    if (++miResends > MaxResends) return false;
    mZ.noteDamage();
    mbFirstTry = false;
    shrink();
    if (CZModem::debugging()) CZModem::debug("resend from " + dec(mlConfirmed) + "\n");
    mZ.mpFile->seek(mlConfirmed);
    mZ.miPosition = static_cast<int>(mlConfirmed);
    mbFrameOpen = false;
    mbConfirmFirst = true;
    mbAwaitingFrameEnd = false;
    mlAskedAt = -1;
    // A receiver that noticed the loss too asks for the same position: no news.
    mlRepositionedTo = mlConfirmed;
    mRepositionedAt = Clock::now();
    return true;
}

void FileSender::shrink() {
    mZ.miChunk = std::max(MinChunkSize, mZ.miChunk / 2);
    miCleanRun = 0;
    miWindow = std::max(MinWindow, miWindow / 2);
    mlCleanBytes = 0;
}

FileSender::State FileSender::reposition() {
    const long position = mZ.getHeaderPosition();
    if (CZModem::debugging()) CZModem::debug("ZRPOS newpos: " + dec(position) + "\n");
    if (++miResends > MaxResends) return finish(E::ErrProtocol);
    mbFirstTry = false;
    mZ.noteDamage();  // the receiver asks again: something was damaged or lost
    if (position < mZ.miPosition) shrink();
    mZ.mpFile->seek(position);
    mZ.miPosition = static_cast<int>(position);
    mlConfirmed = position;
    mbFrameOpen = false;
    mlAskedAt = -1;
    mlRepositionedTo = position;
    mRepositionedAt = Clock::now();
    mbConfirmFirst = true;
    return meDataState;
}

FileSender::State FileSender::endOfFile() {
    const int r = mZ.sendZEOF(mZ.miPosition);
    if (r) return finish(r);
    CZModem::debug("sendZEOF\n");
    return State::AwaitEnd;
}

FileSender::State FileSender::awaitEnd() {
    CZModem::debug("Wait ZRINIT\n");
    const int r = mZ.getZMHeader(mbMemory ? mZ.miTimeoutUnit * 100 : CZModem::ReplyWaitMs);
    const int type = r ? -1 : mZ.miHeaderType;
    if (type == CZModem::ZRINIT || type == CZModem::ZFIN) return finish(0);
    if (type == CZModem::ZRPOS && !(mbWindowed && isDuplicate(mZ.getHeaderPosition()))) return State::Reposition;
    if (type == CZModem::ZFERR) return finish(E::ErrReceiverFileError);
    if (mZ.isAborted()) return aborted();
    if (r == E::ErrCancelled || type == CZModem::ZCAN) return finish(E::ErrCancelled);
    if (r && mbMemory) return finish(r);
    if (r) {
        // The ZEOF or its answer was damaged or lost: say it again.
        if (++miResends > MaxResends) return finish(r);
        return State::EndOfFile;
    }
    if (type == CZModem::ZACK && mbWindowed && mZ.getHeaderPosition() > mlConfirmed &&
        mZ.getHeaderPosition() <= mZ.miPosition) {
        confirm(mZ.getHeaderPosition());  // a ZCRCQ answered late: progress, not noise
        return State::AwaitEnd;
    }
    if (++miIgnored > MaxIgnoredHeaders) return finish(E::ErrProtocol);
    return State::AwaitEnd;
}

// ---------------------------------------------------------------- streaming

long FileSender::unacknowledged() const { return mZ.miPosition - mlConfirmed; }

unsigned char FileSender::streamFrameEnd(int length) const {
    if (mZ.miPosition + length >= mZ.mpFile->getSize()) return CZModem::ZCRCE;  // the last one
    // After going back the receiver confirms the new start before the stream goes on.
    if (mbConfirmFirst) return CZModem::ZCRCW;
    const long limit = mbStreaming ? miWindow : std::min(miSegment, miWindow);
    // The subpacket that fills the window ends the frame: a receiver that lost
    // the frame's header answers that at once instead of waiting for more.
    if (unacknowledged() + length >= limit) return CZModem::ZCRCW;
    return mbStreaming && mlAskedSince + length >= miWindow / 4 ? CZModem::ZCRCQ : CZModem::ZCRCG;
}

FileSender::State FileSender::stream() {
    if (mZ.isAborted()) return aborted();
    // What the receiver sent is acted on before the next subpacket goes out.
    while (mZ.inputWaiting()) {
        const State next = answer(mZ.getZMHeader(CZModem::MinByteGapMs));
        if (next != State::Stream) return next;
    }
    // A segment (for a receiver that cannot stream) ends where its buffer does.
    const long room = (mbStreaming ? miWindow : std::min(miSegment, miWindow)) - unacknowledged();
    if (room <= 0) return State::AwaitWindow;
    const int r = readNext(static_cast<int>(mbStreaming ? mZ.miChunk : std::min<long>(mZ.miChunk, room)));
    if (r < 0) {
        if (++miReadFailures >= MaxReadRetries) return finish(E::ErrFile);
        mZ.mpFile->seek(mZ.miPosition);
        return State::Stream;
    }
    if (r == 1 && !mbFrameOpen) return State::EndOfFile;
    if (!mbFrameOpen) {
        mZ.mpComm->setDirect(false);
        mZ.sendZDATA(mZ.miPosition);
        mZ.mpComm->setDirect(true);
        mbFrameOpen = true;
    }
    // The file ended early (it shrank): an empty ZCRCE closes the frame.
    const unsigned char end = r == 1 ? CZModem::ZCRCE : streamFrameEnd(miLength);
    const int sent = mZ.sendStreamData32(mZ.mData.data(), miLength, end);
    if (sent) return finish(sent);
    mZ.miPosition += miLength;
    mlAskedSince += miLength;
    if (mZ.mpObserver) mZ.mpObserver->fileProgress(mZ.mpFile->getBaseName(), static_cast<std::uint64_t>(mZ.miPosition));
    if (end == CZModem::ZCRCQ || end == CZModem::ZCRCW) {
        mlAskedSince = 0;
        mlAskedAt = mZ.miPosition;
        mSentAt = Clock::now();
    }
    const bool confirming = mbConfirmFirst;
    mbConfirmFirst = false;
    if (end == CZModem::ZCRCE || end == CZModem::ZCRCW) mbFrameOpen = false;
    if (end == CZModem::ZCRCE) return State::EndOfFile;
    // A segment's end and a new start are confirmed before more goes out; a
    // full window waits until enough of it is.
    mbAwaitingFrameEnd = end == CZModem::ZCRCW && (!mbStreaming || confirming);
    return end == CZModem::ZCRCW ? State::AwaitWindow : State::Stream;
}

FileSender::State FileSender::awaitWindow() {
    // The receiver knows best what it lacks: it is given the time to ask
    // (its own wait) before the sender goes back on its own.
    const int r = mZ.getZMHeader(std::min(2 * dataWait(), CZModem::ReplyWaitMs));
    miSilences = r && mZ.isHeaderSilence() ? std::min(miSilences + 1, 10) : 0;
    if (mZ.isAborted()) return aborted();
    if (r == 0 || r == E::ErrCancelled) {
        const State next = answer(r);
        if (next != State::Stream) return next;
        // A ZACK that leaves the window full, or a frame not yet confirmed: wait on.
        if (!mbAwaitingFrameEnd && unacknowledged() < miWindow) return State::Stream;
        return miIgnored <= MaxIgnoredHeaders ? State::AwaitWindow : finish(E::ErrProtocol);
    }
    // Silence or damage where an answer was due: back to what was confirmed.
    if (sendAgain()) return State::Stream;
    return finish(r);
}

FileSender::State FileSender::answer(int r) {
    if (r == E::ErrCancelled) return finish(E::ErrCancelled);
    if (r) {
        mZ.noteDamage();  // a damaged answer: a ZRPOS among them is asked again
        return State::Stream;
    }
    const long position = mZ.getHeaderPosition();
    switch (mZ.miHeaderType) {
        case CZModem::ZCAN: return finish(E::ErrCancelled);
        case CZModem::ZFERR: return finish(E::ErrReceiverFileError);
        case CZModem::ZRPOS:
            if (isDuplicate(position)) return State::Stream;
            if (position >= mlConfirmed) return State::Reposition;
            break;  // an old request
        case CZModem::ZACK:
            if (position > mlConfirmed && position <= mZ.miPosition) {
                confirm(position);
                return State::Stream;
            }
            break;
        default: break;
    }
    ++miIgnored;
    return State::Stream;
}

void FileSender::confirm(long position) {
    if (position == mlAskedAt) {
        if (mbFirstTry) noteRoundTrip(microsSince(mSentAt));
        mlAskedAt = -1;
    }
    if (position == mZ.miPosition) mbAwaitingFrameEnd = false;
    mZ.mpFile->addProgress(static_cast<int>(position - mlConfirmed));
    mlCleanBytes += position - mlConfirmed;
    mlConfirmed = position;
    mlRepositionedTo = -1;  // the new start arrived: a request for it again is news
    miResends = 0;
    miIgnored = 0;
    mbFirstTry = true;
    if (mlCleanBytes >= miWindow) {
        // A clean window: longer subpackets and a wider window again.
        mZ.miChunk = std::min(CZModem::MaxStreamSubpacket, mZ.miChunk * 2);
        miWindow = static_cast<int>(std::min<long>(mZ.mSettings.window, 2L * miWindow));
        mlCleanBytes = 0;
    }
}

void FileSender::noteRoundTrip(long microseconds) {
    mZ.noteRoundTrip(microseconds);
    if (mlFastestRoundTripUs < 0 || microseconds < mlFastestRoundTripUs) mlFastestRoundTripUs = microseconds;
}

bool FileSender::isDuplicate(long position) const {
    // A receiver asks for a position once per damaged or stale frame it
    // meets until our new start reaches it, which takes a round trip (the
    // line's own, without the data queued on it): within one of going back
    // there, asking again is no news. Later it is: the new start was damaged too.
    const long roundTrip = mlFastestRoundTripUs < 0 ? 1000L * MinSettleMs : mlFastestRoundTripUs;
    return position == mlRepositionedTo && microsSince(mRepositionedAt) < roundTrip;
}

}  // namespace ZModem
