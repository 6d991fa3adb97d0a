#pragma once
// ZModem::ExistingFile: what a receiving session does with a file of the
// announced name that is already in the receive directory.

namespace ZModem {

enum class ExistingFile {
    /// Continue it at its length when it is shorter than the announced size;
    /// skip it when it has that size or is longer (it cannot be a prefix of
    /// the offered file). The default.
    Resume,
    /// Keep it untouched and report the file skipped, unless the sender asked
    /// to resume (ZCRESUM), which is then honoured as with Resume, or to
    /// replace it (ZMCLOB, "sz -y"), which is then honoured as with Overwrite.
    Keep,
    /// Receive the file from 0 over it.
    Overwrite,
    /// Receive the file under a new name beside it ("name.1.ext", "name.2.ext", ...).
    Rename
};

}  // namespace ZModem
