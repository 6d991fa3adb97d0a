// A whole ZMODEM session over a memory device holding the fuzzer's bytes
// (what our side sends is dropped): mostly receiving (rec_z), into a folder
// or into memory, and sending a file to a peer that answers with the input.
// First byte: bit 0 receive into memory; bit 1 a peer that goes on
// streaming: plain data follow the input, more than twice the longest
// subpacket; bits 2-3 the silences the wait for "rz\r" may take (1 to 4);
// bit 4 send a file instead; bits 5-6 the policy for an existing file (when
// sending: bit 5 streams with a window of 4 KiB, bit 6 offers the full
// form); bit 7 a file "a.txt" is in the folder already. A receiver gives its
// files the time and mode offered.
// Checked: every file opened for writing is a plain name right inside the
// receive folder, and nothing appears beside that folder; the files (or the
// memory) hold no more bytes than came and were there; the data buffer never
// holds much more than one subpacket however long the peer streams.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include <varonet/zmodem/CZModem.h>

#include "FuzzSupport.h"

namespace {

using Core = ZModem::CZModemCore;
// The session with its data buffer opened for the fuzzer.
struct Session : ZModem::CZModem {
    using CZModem::CZModem;
    using CZModem::getDataBuffer;
};
// Room for the longest subpacket, grown step by step, and a decoding step more.
constexpr std::size_t kMaxDataBuffer = 2 * (Core::MaxSubpacket + Core::BlockSize);
constexpr std::size_t kStreamed = kMaxDataBuffer + 32 * 1024;

const std::filesystem::path& receiveFolder() {
    static const std::filesystem::path* folder = new std::filesystem::path(Fuzz::tempFolder() / "in");
    return *folder;
}

bool gWatching = false;
int gWritableOpens = 0;

void checkWritableOpen(const char* path) {
    const std::filesystem::path p = std::filesystem::path(path).lexically_normal();
    if (p.parent_path() != receiveFolder() || p.filename() == "." || p.filename() == "..")
        Fuzz::fail("a file was opened for writing outside the receive folder");
    ++gWritableOpens;
}

}  // namespace

// Every open of the process passes here: the library's file layer opens its
// files with open(2), so each one it makes for writing is checked.
extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, unsigned int));
        va_end(args);
    }
    if (gWatching && (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC))) checkWritableOpen(path);
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

static void makeFile(const char* name, std::size_t length) {
    std::FILE* file = std::fopen((receiveFolder() / name).c_str(), "wb");
    for (std::size_t i = 0; i < length; ++i) std::fputc('0' + static_cast<int>(i % 10), file);
    std::fclose(file);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
    if (mode & 2) stream.append(kStreamed, 'x');
    std::filesystem::create_directory(receiveFolder());
    const std::size_t there = (mode & 0x10) ? 3000 : (mode & 0x80) ? 10 : 0;
    if (there) makeFile((mode & 0x10) ? "out.txt" : "a.txt", there);

    Fuzz::FuzzLine line(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size());
    Session zmodem(&line);
    zmodem.set_path(receiveFolder().string());
    zmodem.setExistingFilePolicy(static_cast<ZModem::ExistingFile>((mode >> 5) & 3));
    zmodem.setSettings({.window = (mode & 0x30) == 0x30 ? 4096 : 0,
                        .offer = (mode & 0x50) == 0x50 ? ZModem::SessionSettings::Offer::Full
                                                       : ZModem::SessionSettings::Offer::NameAndSize,
                        .keepTimeAndMode = true});
    Base::MemoryDevice memory;
    gWatching = true;
    gWritableOpens = 0;
    if (mode & 0x10) zmodem.sendez("out.txt", 0, 0);
    else if (mode & 1) zmodem.rec_z(&memory);
    else zmodem.rec_z(1 + ((mode >> 2) & 3));
    gWatching = false;

    std::uintmax_t stored = static_cast<std::uintmax_t>(memory.getLength());
    int files = there ? -1 : 0;
    for (const auto& entry : std::filesystem::directory_iterator(receiveFolder())) {
        if (!entry.is_regular_file()) Fuzz::fail("something other than a file in the receive folder");
        stored += entry.file_size();
        ++files;
    }
    if (files > gWritableOpens) Fuzz::fail("a file appeared without a watched open");
    if (stored > stream.size() + there) Fuzz::fail("more bytes stored than came");
    for (const auto& entry : std::filesystem::directory_iterator(Fuzz::tempFolder()))
        if (entry.path() != receiveFolder()) Fuzz::fail("something appeared beside the receive folder");
    if (zmodem.getDataBuffer().vector().capacity() > kMaxDataBuffer) Fuzz::fail("the data buffer grew without bound");
    Fuzz::emptyFolder(Fuzz::tempFolder());
    return 0;
}
