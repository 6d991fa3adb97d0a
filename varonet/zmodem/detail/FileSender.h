#pragma once
// ZModem::FileSender: the sending side of one file (or of one memory
// exchange) as a state machine, one method per state.
//
//   offer ---> awaitOfferAnswer --ZRPOS--> read -> send -> awaitAck --ZACK--> read ...
//                  |   ZSKIP: done          (no window: a ZDATA frame per subpacket)
//                  +--ZRPOS--> stream <-> awaitWindow        (a window: streaming)
//   any of them --ZRPOS--> reposition --> read / stream
//   at the end of the data: endOfFile (ZEOF) --> awaitEnd --ZRINIT--> done
//
// Without a window the wire is the classic one: each 1 KiB subpacket ends in
// ZCRCW and waits for its ZACK (the last, shorter one ends in ZCRCE). With a
// window a receiver that can take data while it writes gets one ZDATA header
// and subpackets back to back (ZCRCG), a ZCRCQ every quarter window asking for
// a ZACK, and never more than the window ahead of the last ZACK; one that
// cannot, or that announced a buffer size, gets that much (ZCRCW at the end)
// and then the sender waits for its ZACK.
#include <chrono>

#include <varonet/zmodem/TransferObserver.h>

namespace ZModem {

class CZModem;

class FileSender {
public:
    /// memory: the data of a memory exchange (no offer, no window).
    FileSender(CZModem& session, bool memory);
    FileSender(const FileSender&) = delete;
    FileSender& operator=(const FileSender&) = delete;

    /// Offers the open file and sends what the receiver asks for: 0 when
    /// sent or skipped (outcome tells which), else a code.
    int sendFile();
    /// The data phase alone, from the current position.
    int sendData();
    TransferObserver::Outcome outcome() const { return meOutcome; }

private:
    enum class State {
        Offer,
        AwaitOfferAnswer,
        Read,
        Send,
        AwaitAck,
        Stream,
        AwaitWindow,
        Reposition,
        EndOfFile,
        AwaitEnd,
        Done
    };
    using Clock = std::chrono::steady_clock;

    int run(State state);
    State offer();
    State awaitOfferAnswer();
    State read();
    State send();
    State awaitAck();
    State stream();
    State awaitWindow();
    State reposition();
    State endOfFile();
    State awaitEnd();

    /// The receiver asked for data from the current position: the data phase starts.
    State startData();
    /// The doubtful ZRPOS of awaitAck: the answer to this frame may still follow.
    State settle();
    /// The ZACK awaitAck waits for.
    State acknowledged();
    /// Streaming: acts on what the receiver sent (r: getZMHeader's result);
    /// State::Stream to go on.
    State answer(int r);
    /// Streaming: a ZACK that confirms up to position (after what was confirmed, within what was sent).
    void confirm(long position);
    State finish(int code);
    State aborted();
    /// Back to what the receiver confirmed, with shorter subpackets: false
    /// when that happened too often.
    bool sendAgain();
    /// Subpackets and window shrink: the line damaged or lost something.
    void shrink();
    /// Reads the next chunk at the position: 0 data, 1 end, -1 failure.
    int readNext(int max);
    int dataWait() const;
    long unacknowledged() const;
    /// The frame end of a streamed subpacket of length bytes.
    unsigned char streamFrameEnd(int length) const;
    bool isDuplicate(long position) const;
    /// A round trip measured (windowed sends): for the session's time-outs and the fastest one seen.
    void noteRoundTrip(long microseconds);

    CZModem& mZ;
    const bool mbMemory;
    bool mbStreaming = false;  // subpackets back to back (else a segment, then a wait)
    bool mbWindowed = false;   // a window is set and the receiver got one of the two
    int miSegment = 0;         // windowed without streaming: bytes per ZDATA frame
    int miWindow = 0;          // the current window (shrinks and grows)
    State meDataState = State::Read;
    int miResult = 0;
    TransferObserver::Outcome meOutcome = TransferObserver::Outcome::Failed;
    // The offer.
    int miOfferFailures = 0;
    int miOffers = 0;
    bool mbHaveHeader = false;  // a header read ahead waits to be handled
    bool mbEchoWaited = false;  // this offer already waited behind one ZRINIT
    Clock::time_point mOfferedAt;
    // The data phase.
    int miSilences = 0;  // silent waits in a row
    int miReadFailures = 0;
    int miIgnored = 0;
    int miResends = 0;
    int miCleanRun = 0;
    int miLength = 0;
    long mlConfirmed = 0;    // what the receiver has confirmed (ZRPOS or ZACK)
    bool mbFirstTry = true;  // the frame waiting for its answer was sent once
    bool mbSettled = false;  // a doubtful ZRPOS was given its round trip
    Clock::time_point mSentAt;
    // Streaming.
    bool mbFrameOpen = false;         // a ZDATA header went out and no ZCRCE or ZCRCW closed its frame
    bool mbAwaitingFrameEnd = false;  // a ZCRCW went out and its ZACK is still to come
    bool mbConfirmFirst = false;      // the next subpacket (after going back) ends in ZCRCW
    long mlAskedSince = 0;            // bytes sent since the last ZCRCQ
    long mlAskedAt = -1;              // the position of the last ZCRCQ, until its ZACK
    long mlCleanBytes = 0;            // bytes confirmed since the last damage or growth
    long mlFastestRoundTripUs = -1;
    long mlRepositionedTo = -1;
    Clock::time_point mRepositionedAt;
};

}  // namespace ZModem
