#include <varonet/zmodem/CZModemFile.h>

#include <algorithm>
#include <cerrno>
#include <exception>

#include <varonet/base/Exception.h>
#include <varonet/base/File.h>
#include <varonet/zmodem/ZModemDebugSink.h>

namespace ZModem {

namespace {
void debug(const Base::String& line) { ZModemDebugSink::emit(line); }

Base::String withSlash(const Base::String& directory) {
    if (directory.isEmpty() || directory.endsWith("/")) return directory.isNull() ? Base::String("") : directory;
    return directory + "/";
}

// A name announced by the peer, reduced to its last path component. The
// empty text means there is no acceptable name ("", ".", "..").
Base::String safeName(const Base::String& announced) {
    Base::String name = announced;
    long slash = name.findLast('/');
    if (slash >= 0) name = name.substring(static_cast<std::size_t>(slash + 1));
    if (name == "." || name == ".." || name.isEmpty()) return Base::String("");
    return name;
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

bool CZModemFile::openForRead(const Base::String& name) {
    msName = msSendDirectory + name;
    try {
        delete mpReadFile;
        mAhead.clear();
        muAheadPos = 0;
        mpReadFile = new IO::File(msName, IO::File::ReadOnly);
        mpReadFile->open();
        miSize = static_cast<int>(mpReadFile->getLength());
        return true;
    } catch (const std::exception& e) {
        debug("error open file " + msName + " : " + e.what() + "\n");
        delete mpReadFile;
        mpReadFile = nullptr;
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
    try {
        bool exists = false;
        long long length = 0;
        {
            IO::File probe(msName, IO::File::ReadOnly);
            try {
                probe.open();
                exists = true;
                length = probe.getLength();
            } catch (const Base::Exception& e) {
                if (!(e.isSystemError() && e.getErrorCode() == ENOENT)) throw;
            }
        }
        flush();
        delete mpWriteFile;
        mBehind.clear();
        mpWriteFile = new IO::File(msName, IO::File::ReadWrite, false, 0640);
        mpWriteFile->open();
        if (exists) {
            position = static_cast<long>(length);
            skip = length == miSize;
            mpWriteFile->seek(length);
            miProgress = static_cast<int>(length);
        }
        return 0;
    } catch (const std::exception& e) {
        debug("error open file " + msName + " : " + e.what() + "\n");
        delete mpWriteFile;
        mpWriteFile = nullptr;
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
            if (!mpReadFile) mpReadFile = new IO::File(msName, IO::File::ReadOnly);
            if (!mpReadFile->isOpen()) mpReadFile->open();
            // Read ahead in big blocks: one file read per many chunks.
            if (muAheadPos >= mAhead.size()) {
                mAhead.resize(BufferSize);
                long n = mpReadFile->read(mAhead.chars(), BufferSize);
                mAhead.resize(static_cast<std::size_t>(n > 0 ? n : 0));
                muAheadPos = 0;
            }
            std::size_t n = std::min(static_cast<std::size_t>(max > 0 ? max : 0), mAhead.size() - muAheadPos);
            bytes.append(mAhead.data() + muAheadPos, n);
            muAheadPos += n;
        } catch (const std::exception& e) {
            bytes.clear();
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
    try {
        if (!mpWriteFile) mpWriteFile = new IO::File(msName, IO::File::ReadWrite, false, 0640);
        if (!mpWriteFile->isOpen()) {
            mpWriteFile->open();
            mpWriteFile->seek(mpWriteFile->getLength());
        }
        // Collected into big writes; flush and close write the rest.
        mBehind.append(data, length);
        if (mBehind.size() >= BufferSize) return flush();
        return true;
    } catch (const std::exception& e) {
        debug("error writeArray file " + msName + " : " + e.what() + "\n");
        return false;
    }
}

bool CZModemFile::flush() {
    if (mBehind.isEmpty() || !mpWriteFile) return true;
    try {
        mpWriteFile->write(mBehind.chars(), static_cast<long>(mBehind.size()));
        mBehind.clear();
        return true;
    } catch (const std::exception& e) {
        mBehind.clear();
        debug("error writeArray file " + msName + " : " + e.what() + "\n");
        return false;
    }
}

bool CZModemFile::seek(long position) {
    if (mpMemDevice) {
        try {
            mpMemDevice->seek(position);
            return true;
        } catch (const std::exception& e) {
            debug(Base::String("error seek mpMemDevice : ") + e.what() + "\n");
            return false;
        }
    }
    try {
        if (!mpReadFile) mpReadFile = new IO::File(msName, IO::File::ReadOnly);
        if (!mpReadFile->isOpen()) mpReadFile->open();
        mAhead.clear();
        muAheadPos = 0;
        mpReadFile->seek(position);
        return true;
    } catch (const std::exception& e) {
        debug("error seek file " + msName + " : " + e.what() + "\n");
        return false;
    }
}

void CZModemFile::close() {
    flush();
    mAhead.clear();
    muAheadPos = 0;
    for (IO::File** file : {&mpReadFile, &mpWriteFile}) {
        if (!*file) continue;
        try {
            if ((*file)->isOpen()) (*file)->close();
        } catch (const std::exception& e) {
            debug("error close file " + msName + " : " + e.what() + "\n");
        }
        delete *file;
        *file = nullptr;
    }
}

int CZModemFile::getFileInfo(Base::ByteArray& bytes, int& size) {
    // Only the last component is announced: the directory is this side's business.
    Base::String name = mpReadFile ? mpReadFile->getName() : msName;
    long slash = name.findLast('/');
    if (slash >= 0) name = name.substring(static_cast<std::size_t>(slash + 1));
    name = name.replaceAll(".vrq", ".zip");
    bytes.clear();
    bytes.append(name.data(), name.length());
    bytes.append(static_cast<unsigned char>(0));
    Base::String digits = Base::String::fromInteger(miSize);
    bytes.append(digits.data(), digits.length());
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
}

}  // namespace ZModem
