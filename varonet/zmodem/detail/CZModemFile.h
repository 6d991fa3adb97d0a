#pragma once
// ZModem::CZModemFile: the ZMODEM sessions' access to the bytes being moved.
//
// Either a file on disk (read when sending, written when receiving, with
// resume and skip) or a caller's Base::MemoryDevice. Every operation catches
// the failures of the layer below, reports one debug line and returns a
// result: nothing throws out of here.
#include <memory>
#include <optional>

#include <varonet/base/ByteArray.h>
#include <varonet/base/File.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/base/String.h>
#include <varonet/zmodem/ExistingFile.h>

namespace ZModem {

class CZModemFile {
public:
    /// Largest file a session carries: sizes and positions travel as signed 32 bits.
    static constexpr long long MaxFileSize = 0x7FFFFFFF;

    CZModemFile() = default;
    virtual ~CZModemFile();
    CZModemFile(const CZModemFile&) = delete;
    CZModemFile& operator=(const CZModemFile&) = delete;

    /// Receive directory ("/" appended when missing) and the announced name.
    void setReceiveNames(const Base::String& directory, const Base::String& name);
    /// Send directory ("/" appended when not empty and missing) and a name.
    void setSendNames(const Base::String& directory, const Base::String& name);
    void setSize(int size) { miSize = size; }
    int getSize() const { return miSize; }
    /// Reads and writes go to memory from now on; opens it when closed. The
    /// memory device is borrowed: never deleted here.
    bool useMemoryDevice(Base::MemoryDevice* memory);
    /// Opens send directory + name for reading; false (and a debug line) on failure.
    bool openForRead(const Base::String& name);
    /// Opens receive directory + name for writing. A new file is created (mode
    /// 0640) and position is left alone. An existing one is treated by the
    /// policy (ExistingFile): continued (position = its length), skipped (skip
    /// true), overwritten from 0, or replaced by a new name beside it. 0, or -1
    /// on failure, including a name that would leave the receive directory.
    int openForWrite(long& position, bool& skip);
    /// Policy for an existing file of the announced name (default Resume).
    void setExistingFilePolicy(ExistingFile policy) { mePolicy = policy; }
    /// The sender asked to resume the next file (ZCRESUM), which Keep honours.
    void setResumeRequested(bool asked) { mbResumeAsked = asked; }
    /// The sender asked to replace an existing file (ZMCLOB), which Keep honours.
    void setReplaceRequested(bool asked) { mbReplaceAsked = asked; }
    /// Reads up to max bytes into bytes (emptied first); length = count.
    /// 1 when nothing was read (end), 0 otherwise, -1 on failure.
    int readChunk(Base::ByteArray& bytes, int max, int& length);
    /// Appends bytes at the current position (collected into big writes for a
    /// file: flush or close puts them on disk); false on failure, also of an
    /// earlier collected write.
    bool writeArray(const Base::ByteArray& bytes);
    bool writeArray(const unsigned char* data, std::size_t length);
    /// Writes what writeArray collected for the write file; false on failure.
    bool flush();
    /// Seeks the memory device or the read file; a failure is one debug line
    /// (the next read then fails).
    void seek(long position);
    /// Closes and drops the read and the write file.
    void close();
    /// True while a received file is open for writing.
    bool isWriting() const { return mpWriteFile != nullptr; }
    /// Ends the received file as complete: writes what is collected and closes
    /// it; false when that failed. It then gets the time and mode set for it:
    /// the mode less what the receive folder denies (its own mode bits), less
    /// setuid, setgid and sticky, and never more than the file had (a new
    /// file is created with that mode plus the owner's read and write, less
    /// the umask).
    bool finishWrite();
    /// Ends the received file as incomplete: it stays under its name where a
    /// later resume is meant to continue it (policy Resume, or Keep with a
    /// resume asked for), and is renamed to "name.part" otherwise.
    void abandonWrite();
    /// Builds the ZFILE subpacket: name (".vrq" shown as ".zip"), NUL, size in
    /// decimal, and in the full form (setFullOffer) the file's time and mode
    /// and what is left to send. size = the file size; returns the subpacket length.
    int getFileInfo(Base::ByteArray& bytes, int& size);
    /// The next offers take the full form, saying that filesLeft files and
    /// bytesLeft bytes (the offered one included) are still to come.
    void setFullOffer(int filesLeft, long long bytesLeft);
    /// The file received next gets this modification time (seconds since
    /// 1970) and mode (octal as sent) once it is complete; see finishWrite.
    void setTimeAndMode(std::optional<long long> mtime, std::optional<unsigned int> mode);
    void addProgress(int n) { miProgress += n; }
    int getProgress() const { return miProgress; }
    /// progress * 100 / size; 0 for size 0.
    int getPercent() const;
    /// Names, size and progress cleared; files closed; memory device forgotten.
    void reset();
    const Base::String& getName() const { return msName; }
    /// The last component of the name.
    Base::String getBaseName() const;
    /// Length of the file at path, or -1 when it cannot be read.
    static long long lengthOf(const Base::String& path);

private:
    /// Gives the finished received file the time and mode set for it.
    void applyTimeAndMode();

    Base::String msName;
    int miSize = 0;
    std::unique_ptr<IO::File> mpReadFile;
    std::unique_ptr<IO::File> mpWriteFile;
    Base::MemoryDevice* mpMemDevice = nullptr;  // borrowed
    int miProgress = 0;
    Base::String msReceiveDirectory;
    Base::String msSendDirectory;
    ExistingFile mePolicy = ExistingFile::Resume;
    bool mbResumeAsked = false;
    bool mbReplaceAsked = false;
    bool mbKeepPartial = true;          // an incomplete received file stays under its name
    bool mbWriteFailed = false;         // a collected write was lost: the file is short
    std::optional<long long> mTime;     // the received file's time, when it is to have one
    std::optional<unsigned int> mMode;  // ... and its permission bits (already limited)
    bool mbFullOffer = false;
    int miFilesLeft = 1;
    long long mlBytesLeft = 0;
    // File reads and writes go in blocks of this size (fewer system calls).
    static constexpr long BufferSize = 64 * 1024;
    Base::ByteArray mAhead;  // read ahead of the send position
    std::size_t muAheadPos = 0;
    Base::ByteArray mBehind;  // received, not yet written
};

}  // namespace ZModem
