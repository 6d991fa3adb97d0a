#pragma once
// ZModem::FileOffer: what the subpacket of a ZFILE header says about a file.
//
//   name NUL size [mtime [mode [serial [files-left [bytes-left]]]]] [NUL]
//
// The size and the counts are decimal, the time (seconds since 1970) and the
// mode (with the file type bits, 100644 for a plain file) octal, as ZMODEM
// peers write and read them.
#include <optional>

#include <varonet/base/ByteArray.h>
#include <varonet/base/String.h>

namespace ZModem {

struct FileOffer {
    Base::String name = "";
    long long size = 0;
    std::optional<long long> mtime = {};    ///< seconds since 1970
    std::optional<unsigned int> mode = {};  ///< as sent, type bits included
    int filesLeft = 1;                      ///< this file included
    long long bytesLeft = 0;                ///< this file included

    /// name NUL size; with full also the time and mode (0 when unknown), the
    /// serial number 0, files and bytes left, and a closing NUL.
    Base::ByteArray encode(bool full) const;
    /// Reads an offer. The size has at most 15 digits; a field that is
    /// missing or no number leaves itself and the fields after it unknown.
    static FileOffer parse(const Base::ByteArray& bytes);
};

}  // namespace ZModem
