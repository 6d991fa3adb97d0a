#pragma once
// ZModem::FileReceiver: the receiving side of a session (files, a command,
// or one memory exchange) as a state machine: it waits for a header and
// hands it to the method named for it.
//
//   awaitHeader --ZRQINIT--> ZRINIT
//               --ZSINIT---> settings: ZACK
//               --ZFILE----> offer: ZRPOS(where to start) or ZSKIP
//               --ZDATA----> data: subpackets into the file, ZACK for ZCRCQ and ZCRCW
//               --ZEOF-----> endOfFile: the file is complete, ZRINIT
//               --ZCOMMAND-> command: ZCOMPL
//               --ZFIN-----> ZFIN, "OO": done
//   damage or silence: asks again (ZRPOS inside a file, ZRINIT between files)
#include <chrono>
#include <optional>

namespace ZModem {

class CZModem;

class FileReceiver {
public:
    /// memory: one exchange into the memory device (no offer; the first ZEOF ends it).
    FileReceiver(CZModem& session, bool memory);
    FileReceiver(const FileReceiver&) = delete;
    FileReceiver& operator=(const FileReceiver&) = delete;

    /// Receives until the sender ends the session: 0, or a code.
    int run();

private:
    /// Each step: nothing to go on, or the session's result.
    using Step = std::optional<int>;

    Step awaitHeader();
    Step settings();
    Step offer();
    Step data();
    Step endOfFile();
    Step command();

    /// A header that did not come whole (h: getZMHeader's result).
    Step headerFailed(int h, int idle);
    /// A damaged or lost frame is answered once: ZRPOS inside a file, ZRINIT
    /// (or ZNAK for a lost offer) between files.
    void askAgain();
    /// The data phase of one ZDATA frame: 0 at its end, 1 when nothing came, or a code.
    int receiveData();
    /// A setback: false while the budget lasts.
    bool usedUp() { return --miBudget <= 0; }
    int verdict() const;
    /// Data arrived: the budget and the error counts start again.
    void progress();
    int idleWait() const;

    CZModem& mZ;
    const bool mbMemory;
    int miBudget;
    int miHeaderErrors = 0;
    int miDataRetries = 0;
    int miSilentMs = 0;  // silence since the last setback it cost
    int miSilences = 0;  // silent waits in a row
    // After an answer to a frame whose subpacket end is still to come, that
    // end is not answered again (two answers would make the sender repeat
    // itself twice); a silent line always is.
    bool mbOwnEndPending = false;
    bool mbAskedSinceData = false;  // a ZRPOS went out since data last arrived
    // When the last ZACK went out: the next ZDATA header measures a round trip.
    std::optional<std::chrono::steady_clock::time_point> mAckedAt;
};

}  // namespace ZModem
