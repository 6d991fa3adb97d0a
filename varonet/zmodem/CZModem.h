#pragma once
// ZModem::CZModem: whole ZMODEM sessions over a borrowed device.
//
// File send (sendez, mode 0; sendFiles repeats the middle part per file):
//   sender                                   receiver
//     "rz\r", ZRQINIT ------------------------->
//     <----------------------------------------- ZRINIT
//     ZFILE + "name\0size" ZCRCW --------------->
//     <----------------------------------------- ZRPOS(n)  (or ZSKIP)
//     ZDATA(n) + 1024 bytes ZCRCW -------------->
//     <----------------------------------------- ZACK(n+1024)
//     ...  last chunk ZCRCE, ZEOF(end) --------->
//     <----------------------------------------- ZRINIT
//     ZFIN ------------------------------------>
//     <----------------------------------------- ZFIN
//     "OO" ------------------------------------->
//
// On a noisy line the file sessions recover the way robust peers do: a
// receiver that gets a damaged header or subpacket asks for its position
// again (ZRPOS; ZRINIT between files) and a silent line makes it ask again
// after ReceiverIdleMs; a sender that gets a damaged or unexpected answer, or
// none, goes back to the position the receiver last confirmed and sends on
// from there with shorter subpackets. Every retry is counted and bounded.
//
// With a window set (SessionSettings) a receiver that allows it gets the data
// streamed instead of waiting for ZACK after every subpacket:
//     ZDATA(n) + subpackets ZCRCG ... ZCRCQ ... ZCRCG ... ZCRCQ -------->
//     <----------------------------------------- ZACK   (one per ZCRCQ)
//     <----------------------------------------- ZRPOS(m): back to m at once
//
// Command send (sendez, mode != 0): ZCOMMAND + text ZCRCW, answered ZCOMPL
// with the exit status, then the ZFIN / "OO" closure. The memory variants
// send ZDATA frames and ZEOF only (no "rz\r", ZRQINIT or ZFILE); the ZEOF is
// answered with ZRINIT.
//
// Every public call runs one session on the caller's thread and returns 0 (or
// a command's exit status, or rec_z's result) or a code of ZModemErrors. None
// throws. Terminate may be called from another thread.
#include <vector>

#include <varonet/base/Export.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/zmodem/CZModemCore.h>
#include <varonet/zmodem/ExistingFile.h>
#include <varonet/zmodem/SessionSettings.h>
#include <varonet/zmodem/TransferObserver.h>

namespace ZModem {

class VARONET_API CZModem : public CZModemCore {
public:
    /// A sender waits this long for the answer to a frame before sending it again.
    static constexpr int ReplyWaitMs = 10000;
    /// ... but once round trips were measured, a few of them, and at least this long.
    static constexpr int MinReplyWaitMs = 100;
    /// A receiver inside a file session waits this long on a silent line before asking again.
    static constexpr int ReceiverIdleMs = 5000;
    /// File sessions end a header or subpacket as damaged after a pause this long inside it.
    static constexpr int ByteGapMs = 1000;

    /// device is borrowed; it must be open for the sessions.
    explicit CZModem(IO::Device* device);
    IO::Device* getDevice() const { return mpDevice; }

    /// mode 0: sends the file named (relative to the path). Other modes: sends
    /// the first length bytes of the text as a command and returns the
    /// peer's exit status. 0 on success, else a code; a file of 2 GiB or more
    /// is refused with ErrFileTooLarge before anything is sent.
    int sendez(const Base::String& commandOrFile, int mode, int length);
    /// Streams the memory device's unread bytes as one ZDATA exchange.
    int sendez(Base::MemoryDevice* memory);
    /// Sends several files in one session (one receiver takes them all). A
    /// path that is not absolute is taken relative to the path set. 0 when
    /// every file was sent or skipped by the receiver; ErrFile when the
    /// session ended well but a file could not be read; ErrFileTooLarge
    /// (before anything is sent) for a file of 2 GiB or more; else the code
    /// that ended the session. The observer hears of each file.
    int sendFiles(const std::vector<Base::String>& paths);
    /// Waits for "rz\r" (count silences of 60 s at most), then receives files
    /// into the path (or a command). Returns 0, or 1 after a command, or a
    /// code: a file that could not be written ends the session with ErrFile
    /// (the sender is cancelled); one refused as too large gives
    /// ErrFileTooLarge after the session.
    int rec_z(int count);
    /// Receives one ZDATA exchange into memory.
    int rec_z(Base::MemoryDevice* memory);
    /// Ends the running session (and every later one) with ErrAborted.
    void Terminate();
    /// The data buffer as text up to and including the first NUL.
    Base::String getCmdStr();
    /// Directory of files to send and of received files.
    void set_path(const Base::String& path) { msPath = path; }
    const Base::String& get_path() const { return msPath; }
    /// The file object's current name (directory plus name once opened).
    Base::String getFileName();
    /// Tells observer (borrowed; null for none) about each file of the file
    /// sessions: started, progress, finished.
    void setObserver(TransferObserver* observer) { mpObserver = observer; }
    /// What receiving does with an existing file of the announced name.
    void setExistingFilePolicy(ExistingFile policy);
    /// Streaming, the file offer's form, file times and modes (defaults: none of these).
    void setSettings(const SessionSettings& settings) { mSettings = settings; }
    const SessionSettings& getSettings() const { return mSettings; }

protected:
    int startSend();
    int getzrxinit();
    int sendZSINIT();
    int wcsend(const Base::String& name);
    int sendFile(const Base::String& name);
    int sendFileData();
    /// The file offers of sendFiles say how many files and bytes are still to come.
    void announceRest(const std::vector<Base::String>& paths, std::size_t from);
    int finishSession();
    int zsendcmd(const Base::String& command, int length);
    int SessionClosure();
    void canit();
    int wait_rz(int count);
    int receive_yz(bool memory);
    /// Reads the subpacket of a ZFILE, ZSINIT or ZCOMMAND into the data
    /// buffer; unlike file data it leaves the file position as it was.
    int getInfoSubpacket();
    void AckSessionClosure();
    void finished(const Base::String& name, TransferObserver::Outcome outcome, int code);

    void stohdr(long value);
    int sendZHexHeader(int type, unsigned char byte);
    int sendZHEXHEADER(int type, int p0, int p1, int p2, int p3);
    int sendZBINHEADER(int type, long value, unsigned char byte);
    unsigned char frameEndOf(int kind) const;

private:
    friend class FileSender;
    friend class FileReceiver;

    Base::String msPath = "";
    IO::Device* mpDevice;  // borrowed
    int miResult = 0;
    TransferObserver* mpObserver = nullptr;  // borrowed
    ExistingFile mePolicy = ExistingFile::Resume;
    int miFileFailure = 0;           // first file refused or failed in a receiving session
    bool mbStartedByHeader = false;  // the receiver saw ZRQINIT, not "rz\r"
    int miChunk = 1024;              // file data per subpacket; smaller after damage
    SessionSettings mSettings;
};

}  // namespace ZModem
