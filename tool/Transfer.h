#pragma once
// Tool::TransferReport: what a person sees of a ZMODEM session. On a
// terminal, one progress line per file (name, bytes, percent, rate, time
// left); elsewhere, and at the end of each file, one summary line.

#include <chrono>
#include <cstdio>
#include <string>

#include <varonet/zmodem/TransferObserver.h>

#include "Tool.h"

namespace Tool {

class TransferReport : public ZModem::TransferObserver {
public:
    enum EDirection { Sending, Receiving };
    /// dir: where received files go; keepsPartial: an incomplete received
    /// file stays under its name (for a later resume); quiet: failures only.
    explicit TransferReport(EDirection direction, std::string dir = "", bool keepsPartial = false, bool quiet = false,
                            std::FILE* out = stderr);

    void fileStarted(const Base::String& name, std::uint64_t size) override;
    void fileProgress(const Base::String& name, std::uint64_t bytes) override;
    void fileFinished(const Base::String& name, Outcome outcome, int code) override;

    /// A file that failed before the session (it cannot be read).
    void failedBefore(const std::string& name, const std::string& reason);
    /// Ends a progress line that is still open (a session that broke off).
    void end();
    bool anyFailed() const { return miFailed > 0; }
    int sentCount() const { return miSent; }

private:
    using Clock = std::chrono::steady_clock;
    void line(const std::string& text);
    void drawProgress(bool force);

    EDirection meDirection;
    std::string msDir;
    bool mbKeepsPartial;
    bool mbQuiet;
    std::FILE* mpOut;
    bool mbTerminal;
    bool mbLineOpen = false;
    std::string msName;
    std::uint64_t muSize = 0, muBytes = 0, muFirst = 0;
    Clock::time_point mStart, mFirstAt, mLastDraw;
    int miFailed = 0, miSent = 0;
};

/// "1.5 MiB", "512 B".
std::string humanBytes(double bytes);
/// A session result with its meaning: "the peer cancelled the session (code 0x2000000A)".
std::string sessionResult(int code);

}  // namespace Tool
