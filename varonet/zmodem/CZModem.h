#pragma once
// ZModem::CZModem: whole ZMODEM sessions over a borrowed device.
//
// File send (sendez, mode 0):
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
// Command send (sendez, mode != 0): ZCOMMAND + text ZCRCW, answered ZCOMPL
// with the exit status, then the ZFIN / "OO" closure. The memory variants
// send ZDATA frames and ZEOF only (no "rz\r", ZRQINIT or ZFILE); the ZEOF is
// answered with ZRINIT.
//
// Every public call runs one session on the caller's thread and returns 0 (or
// a command's exit status, or rec_z's result) or a code of ZModemErrors. None
// throws. Terminate may be called from another thread.
#include <varonet/base/Export.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/zmodem/CZModemCore.h>

namespace ZModem {

class VARONET_API CZModem : public CZModemCore {
public:
    /// device is borrowed; it must be open for the sessions.
    explicit CZModem(IO::Device* device);
    IO::Device* getDevice() const { return mpDevice; }

    /// mode 0: sends the file named (relative to the path). Other modes: sends
    /// the first length bytes of the text as a command and returns the
    /// peer's exit status. 0 on success, else a code.
    int sendez(const Base::String& commandOrFile, int mode, int length);
    /// Streams the memory device's unread bytes as one ZDATA exchange.
    int sendez(Base::MemoryDevice* memory);
    /// Waits for "rz\r" (count silences of 60 s at most), then receives files
    /// into the path (or a command). Returns 0, or 1 after a command, or a code.
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

private:
    int getzrxinit();
    int sendZSINIT();
    int wcsend(const Base::String& name);
    int sendFile(const Base::String& name);
    int sendFileData();
    int zsendcmd(const Base::String& command, int length);
    int SessionClosure();
    void canit();
    int wait_rz(int count);
    int receive_yz(bool memory);
    int receiveData(bool memory);
    void AckSessionClosure();

    void stohdr(long value);
    int sendZHexHeader(int type, unsigned char byte);
    int sendZHEXHEADER(int type, int p0, int p1, int p2, int p3);
    int sendZBINHEADER(int type, long value, unsigned char byte);
    unsigned char frameEndOf(int kind) const;

    Base::String msPath = "";
    IO::Device* mpDevice;
    int miResult = 0;
};

}  // namespace ZModem
