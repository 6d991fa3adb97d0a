// ZModem::CZModem: the receiving sessions (files or a command, a memory exchange).
#include <varonet/zmodem/CZModem.h>

#include <varonet/zmodem/detail/CZModemFile.h>
#include <varonet/zmodem/detail/FileReceiver.h>

namespace ZModem {

using E = ZModemErrors;

namespace {
constexpr int RzWaitMs = 60000;       // receiver's wait for "rz\r"
constexpr int ClosureWaitMs = 60000;  // receiver's wait for "OO"
constexpr int SecondOWaitMs = 1000;
using Outcome = TransferObserver::Outcome;
}  // namespace

int CZModem::rec_z(int count) {
    ResetAll();
    miResult = 0;
    miFileFailure = 0;
    miByteGapMs = ByteGapMs;
    setAnswerLines(false);
    resetLineState();
    mpFile->setExistingFilePolicy(mePolicy);
    if (mSettings.greetAtOnce) sendZRINIT(miEscapeAll);  // a sender that started first waits for it
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

int CZModem::receive_yz(bool memory) { return FileReceiver(*this, memory).run(); }

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
