// ZModem::CZModemFile: the sessions' files and memory buffers, read ahead and written safely.
#include <varonet/zmodem/detail/CZModemFile.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>

#include <varonet/base/Exception.h>
#include <varonet/base/File.h>
#include <varonet/zmodem/ZModemDebugSink.h>
#include <varonet/zmodem/detail/FileOffer.h>

namespace ZModem {

namespace {
namespace fs = std::filesystem;

// Tries of the Rename policy before a name is given up as unavailable.
constexpr int MaxRenameTries = 1000;

void debug(const Base::String& line) { ZModemDebugSink::emit(line); }

Base::String withSlash(const Base::String& directory) {
    if (directory.isEmpty() || directory.endsWith("/")) return directory.isNull() ? Base::String("") : directory;
    return directory + "/";
}

Base::String lastComponent(const Base::String& path) {
    long slash = path.findLast('/');
    return slash >= 0 ? path.substring(static_cast<std::size_t>(slash + 1)) : path;
}

// A name announced by the peer, reduced to its last path component. The
// empty text means there is no acceptable name ("", ".", "..").
Base::String safeName(const Base::String& announced) {
    Base::String name = lastComponent(announced);
    if (name == "." || name == ".." || name.isEmpty()) return Base::String("");
    return name;
}

// "dir/name.ext" -> "dir/name.N.ext" (a name without extension gets ".N").
Base::String numbered(const Base::String& directory, const Base::String& name, int n) {
    long dot = name.findLast('.');
    Base::String digits = Base::String::fromInteger(n);
    if (dot <= 0) return directory + name + "." + digits;
    return directory + name.substring(0, static_cast<std::size_t>(dot)) + "." + digits +
           name.substring(static_cast<std::size_t>(dot));
}
}  // namespace

CZModemFile::~CZModemFile() { close(); }

void CZModemFile::setReceiveNames(const Base::String& directory, const Base::String& name) {
    // An empty receive directory stays empty: names land in the working directory.
    msReceiveDirectory = withSlash(directory);
    msName = name;
}

void CZModemFile::setSendNames(const Base::String& directory, const Base::String& name) {
    msSendDirectory = withSlash(directory);
    msName = name;
}

bool CZModemFile::useMemoryDevice(Base::MemoryDevice* memory) {
    try {
        mpMemDevice = memory;
        if (!memory->isOpen()) memory->open();
        miSize = static_cast<int>(memory->size());
        return true;
    } catch (const std::exception& e) {
        debug(Base::String("error open memorydevice : ") + e.what() + "\n");
        return false;
    }
}

long long CZModemFile::lengthOf(const Base::String& path) {
    std::error_code ec;
    auto length = fs::file_size(path.str(), ec);
    return ec ? -1 : static_cast<long long>(length);
}

bool CZModemFile::openForRead(const Base::String& name) {
    msName = msSendDirectory + name;
    try {
        mpReadFile.reset();
        mAhead.clear();
        muAheadPos = 0;
        mpReadFile = std::make_unique<IO::File>(msName, IO::File::ReadOnly);
        mpReadFile->open();
        long long length = mpReadFile->getLength();
        if (length > MaxFileSize) throw Base::Exception(0, ".", __LINE__, "file larger than 2 GiB - 1");
        miSize = static_cast<int>(length);
        return true;
    } catch (const std::exception& e) {
        debug("error open file " + msName + " : " + e.what() + "\n");
        mpReadFile.reset();
        return false;
    }
}

int CZModemFile::openForWrite(long& position, bool& skip) {
    Base::String name = safeName(msName);
    if (name.isEmpty()) {
        // A hostile or broken sender: never write outside the receive directory.
        debug("error open file " + msReceiveDirectory + msName + " : invalid file name\n");
        return -1;
    }
    msName = msReceiveDirectory + name;
    const bool resumeMeant = mePolicy == ExistingFile::Resume || (mePolicy == ExistingFile::Keep && mbResumeAsked);
    const bool replaceMeant = mePolicy == ExistingFile::Overwrite || (mePolicy == ExistingFile::Keep && mbReplaceAsked);
    mbKeepPartial = resumeMeant;
    mbWriteFailed = false;
    try {
        flush();
        mpWriteFile.reset();
        mBehind.clear();
        long long length = lengthOf(msName);
        bool exists = length >= 0 || fs::exists(msName.str());
        bool truncate = false;
        if (exists && resumeMeant) {
            // Only a shorter file can be the beginning of the offered one.
            if (length >= miSize) {
                position = static_cast<long>(length);
                miProgress = static_cast<int>(std::min<long long>(length, MaxFileSize));
                skip = true;
                return 0;
            }
        } else if (exists && replaceMeant) {
            truncate = true;
            length = 0;
        } else if (exists && mePolicy == ExistingFile::Keep) {
            skip = true;
            return 0;
        } else if (exists) {  // Rename
            Base::String candidate;
            for (int n = 1; n <= MaxRenameTries && candidate.isEmpty(); ++n) {
                Base::String next = numbered(msReceiveDirectory, name, n);
                if (!fs::exists(next.str())) candidate = next;
            }
            if (candidate.isEmpty()) throw Base::Exception(0, ".", __LINE__, "no free name beside it");
            msName = candidate;
            exists = false;
        }
        // A file that is to get a mode is made with it (and the owner's read and write) right away.
        mpWriteFile = std::make_unique<IO::File>(msName, IO::File::ReadWrite, false, mMode ? *mMode | 0600 : 0640);
        mpWriteFile->open();
        if (truncate) fs::resize_file(msName.str(), 0);
        if (exists && !truncate) {
            position = static_cast<long>(length);
            mpWriteFile->seek(length);
            miProgress = static_cast<int>(length);
        }
        return 0;
    } catch (const std::exception& e) {
        debug("error open file " + msName + " : " + e.what() + "\n");
        mpWriteFile.reset();
        return -1;
    }
}

int CZModemFile::readChunk(Base::ByteArray& bytes, int max, int& length) {
    bytes.clear();
    length = 0;
    if (mpMemDevice) {
        try {
            bytes.resize(static_cast<std::size_t>(max));
            long n = mpMemDevice->read(bytes.chars(), max);
            bytes.resize(static_cast<std::size_t>(n > 0 ? n : 0));
        } catch (const std::exception& e) {
            bytes.clear();
            debug(Base::String("IO error mpMemDevice : ") + e.what() + "\n");
            return -1;
        }
    } else {
        try {
            if (!mpReadFile) mpReadFile = std::make_unique<IO::File>(msName, IO::File::ReadOnly);
            if (!mpReadFile->isOpen()) mpReadFile->open();
            // Read ahead in big blocks: one file read per many chunks.
            if (muAheadPos >= mAhead.size()) {
                mAhead.resize(BufferSize);
                muAheadPos = 0;
                long n = mpReadFile->read(mAhead.chars(), BufferSize);
                mAhead.resize(static_cast<std::size_t>(n > 0 ? n : 0));
            }
            std::size_t n = std::min(static_cast<std::size_t>(max > 0 ? max : 0), mAhead.size() - muAheadPos);
            bytes.append(mAhead.data() + muAheadPos, n);
            muAheadPos += n;
        } catch (const std::exception& e) {
            mAhead.clear();  // nothing reached bytes: what was read ahead is dropped
            muAheadPos = 0;
            debug("IO error file " + msName + " : " + e.what() + "\n");
            return -1;
        }
    }
    length = static_cast<int>(bytes.size());
    return length == 0 ? 1 : 0;
}

bool CZModemFile::writeArray(const Base::ByteArray& bytes) { return writeArray(bytes.data(), bytes.size()); }

bool CZModemFile::writeArray(const unsigned char* data, std::size_t length) {
    if (mpMemDevice) {
        try {
            mpMemDevice->write(reinterpret_cast<const char*>(data), static_cast<long>(length));
            return true;
        } catch (const std::exception& e) {
            debug(Base::String("error writeArray mpMemDevice: ") + e.what() + "\n");
            return false;
        }
    }
    if (mbWriteFailed) return false;
    try {
        if (!mpWriteFile) mpWriteFile = std::make_unique<IO::File>(msName, IO::File::ReadWrite, false, 0640);
        if (!mpWriteFile->isOpen()) {
            mpWriteFile->open();
            mpWriteFile->seek(mpWriteFile->getLength());
        }
        // Collected into big writes; flush and close write the rest.
        mBehind.append(data, length);
        if (mBehind.size() >= BufferSize) return flush();
        return true;
    } catch (const std::exception& e) {
        mbWriteFailed = true;
        debug("error writeArray file " + msName + " : " + e.what() + "\n");
        return false;
    }
}

bool CZModemFile::flush() {
    if (mbWriteFailed) return false;
    if (mBehind.isEmpty() || !mpWriteFile) return true;
    try {
        mpWriteFile->write(mBehind.chars(), static_cast<long>(mBehind.size()));
        mBehind.clear();
        return true;
    } catch (const std::exception& e) {
        // Whatever reached the disk is a true beginning of the file; the rest is lost.
        mBehind.clear();
        mbWriteFailed = true;
        debug("error writeArray file " + msName + " : " + e.what() + "\n");
        return false;
    }
}

void CZModemFile::seek(long position) {
    if (mpMemDevice) {
        try {
            mpMemDevice->seek(position);
        } catch (const std::exception& e) {
            debug(Base::String("error seek mpMemDevice : ") + e.what() + "\n");
        }
        return;
    }
    try {
        if (!mpReadFile) mpReadFile = std::make_unique<IO::File>(msName, IO::File::ReadOnly);
        if (!mpReadFile->isOpen()) mpReadFile->open();
        mAhead.clear();
        muAheadPos = 0;
        mpReadFile->seek(position);
    } catch (const std::exception& e) {
        debug("error seek file " + msName + " : " + e.what() + "\n");
    }
}

void CZModemFile::close() {
    flush();
    mAhead.clear();
    muAheadPos = 0;
    for (std::unique_ptr<IO::File>* file : {&mpReadFile, &mpWriteFile}) {
        if (!*file) continue;
        try {
            if ((*file)->isOpen()) (*file)->close();
        } catch (const std::exception& e) {
            debug("error close file " + msName + " : " + e.what() + "\n");
        }
        file->reset();
    }
}

bool CZModemFile::finishWrite() {
    bool ok = flush();
    close();
    if (ok) applyTimeAndMode();
    return ok;
}

void CZModemFile::setTimeAndMode(std::optional<long long> mtime, std::optional<unsigned int> mode) {
    mTime = mtime;
    mMode.reset();
    if (!mode || (*mode & 0777) == 0) return;  // no permission at all: a sender that does not know
    std::error_code ec;
    const auto folder = fs::status(msReceiveDirectory.isEmpty() ? "." : msReceiveDirectory.str(), ec).permissions();
    mMode = *mode & 0777 & (ec ? 0700u : static_cast<unsigned int>(folder));
}

void CZModemFile::applyTimeAndMode() {
    std::error_code ec;
    if (mMode) {
        const auto now = static_cast<unsigned int>(fs::status(msName.str(), ec).permissions());
        if (!ec) fs::permissions(msName.str(), static_cast<fs::perms>(now & *mMode), ec);
        if (ec) debug("error chmod file " + msName + " : " + ec.message().c_str() + "\n");
    }
    if (mTime) {
        const auto time = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(*mTime)));
        fs::last_write_time(msName.str(), time, ec);
        if (ec) debug("error set time of file " + msName + " : " + ec.message().c_str() + "\n");
    }
}

void CZModemFile::setFullOffer(int filesLeft, long long bytesLeft) {
    mbFullOffer = true;
    miFilesLeft = filesLeft;
    mlBytesLeft = bytesLeft;
}

void CZModemFile::abandonWrite() {
    if (!mpWriteFile) return;
    flush();
    close();
    if (mbKeepPartial) return;
    std::error_code ec;
    fs::rename(msName.str(), msName.str() + ".part", ec);
    if (ec) debug("error rename file " + msName + " : " + ec.message().c_str() + "\n");
}

Base::String CZModemFile::getBaseName() const { return lastComponent(msName); }

int CZModemFile::getFileInfo(Base::ByteArray& bytes, int& size) {
    // Only the last component is announced: the directory is this side's business.
    const Base::String path = mpReadFile ? mpReadFile->getName() : msName;
    FileOffer offer;
    offer.name = lastComponent(path).replaceAll(".vrq", ".zip");
    offer.size = miSize;
    if (mbFullOffer) {
        std::error_code ec;
        const auto time = fs::last_write_time(path.str(), ec);
        if (!ec)
            offer.mtime = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::file_clock::to_sys(time).time_since_epoch())
                              .count();
        const auto status = fs::status(path.str(), ec);
        if (!ec) offer.mode = 0100000u | static_cast<unsigned int>(status.permissions() & fs::perms::mask);
        offer.filesLeft = miFilesLeft;
        offer.bytesLeft = mlBytesLeft;
    }
    bytes = offer.encode(mbFullOffer);
    size = miSize;
    return static_cast<int>(bytes.size());
}

int CZModemFile::getPercent() const {
    if (miSize == 0) return 0;
    return static_cast<int>(static_cast<long long>(miProgress) * 100 / miSize);
}

void CZModemFile::reset() {
    msSendDirectory = "";
    msName = "";
    msReceiveDirectory = "";
    miSize = 0;
    miProgress = 0;
    close();
    mpMemDevice = nullptr;
    mbResumeAsked = false;
    mbReplaceAsked = false;
    mbWriteFailed = false;
    mTime.reset();
    mMode.reset();
    mbFullOffer = false;
}

}  // namespace ZModem
