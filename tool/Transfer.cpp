// Tool::TransferReport: the progress and result lines of send and receive.
#include "Transfer.h"

#include <unistd.h>

#include <filesystem>

#include <varonet/udl/ErrorText.h>

namespace Tool {

std::string humanBytes(double bytes) {
    static const char* units[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 3) bytes /= 1024, ++unit;
    char text[32];
    std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", bytes, units[unit]);
    return text;
}

std::string sessionResult(int code) {
    char number[24];
    std::snprintf(number, sizeof number, code > 0xFFFF ? "0x%X" : "%d", code);
    return UDL::ErrorText::describe(code).str() + " (code " + number + ")";
}

TransferReport::TransferReport(EDirection direction, std::string dir, bool keepsPartial, bool quiet, std::FILE* out)
    : meDirection(direction), msDir(std::move(dir)), mbKeepsPartial(keepsPartial), mbQuiet(quiet), mpOut(out),
      mbTerminal(!quiet && ::isatty(::fileno(out)) != 0) {}

void TransferReport::line(const std::string& text) {
    if (mbLineOpen) std::fputs("\r\033[K", mpOut);
    mbLineOpen = false;
    std::fprintf(mpOut, "%s\n", text.c_str());
    std::fflush(mpOut);
}

void TransferReport::end() {
    if (mbLineOpen) std::fputs("\n", mpOut);
    mbLineOpen = false;
}

void TransferReport::fileStarted(const Base::String& name, std::uint64_t size) {
    msName = name.str();
    muSize = size;
    muBytes = muFirst = 0;
    mStart = mFirstAt = Clock::now();
    drawProgress(true);
}

void TransferReport::fileProgress(const Base::String&, std::uint64_t bytes) {
    if (muBytes == 0) {
        // The rate counts from the first report: a resumed file starts where it was.
        muFirst = bytes;
        mFirstAt = Clock::now();
    }
    muBytes = bytes;
    drawProgress(false);
}

void TransferReport::drawProgress(bool force) {
    if (!mbTerminal) return;
    auto now = Clock::now();
    if (!force && now - mLastDraw < std::chrono::milliseconds(100)) return;
    mLastDraw = now;
    double seconds = std::chrono::duration<double>(now - mFirstAt).count();
    double rate = seconds > 0 ? static_cast<double>(muBytes - muFirst) / seconds : 0;
    std::string text =
        msName + "  " + humanBytes(static_cast<double>(muBytes)) + " of " + humanBytes(static_cast<double>(muSize));
    char more[96];
    int percent = muSize ? static_cast<int>(muBytes * 100 / muSize) : 100;
    if (rate > 0 && muSize > muBytes) {
        int left = static_cast<int>(static_cast<double>(muSize - muBytes) / rate);
        std::snprintf(more, sizeof more, "  %3d%%  %s/s  %d:%02d left", percent, humanBytes(rate).c_str(), left / 60,
                      left % 60);
    } else {
        std::snprintf(more, sizeof more, "  %3d%%", percent);
    }
    std::fprintf(mpOut, "\r\033[K%s%s", text.c_str(), more);
    std::fflush(mpOut);
    mbLineOpen = true;
}

void TransferReport::fileFinished(const Base::String& nameText, Outcome outcome, int code) {
    std::string name = nameText.str();
    if (outcome == Outcome::Sent) {
        ++miSent;
        if (mbQuiet) return;
        double seconds = std::chrono::duration<double>(Clock::now() - mStart).count();
        char about[96];
        std::snprintf(about, sizeof about, " (%s in %.1f s)", humanBytes(static_cast<double>(muSize)).c_str(), seconds);
        line((meDirection == Sending ? "sent " : "received ") + name + about);
    } else if (outcome == Outcome::Skipped) {
        if (mbQuiet) return;
        line("skipped " + name +
             (meDirection == Sending ? ": the receiver has it already" : ": a file of that name is there already"));
    } else {
        ++miFailed;
        std::string text = "failed " + name + ": " + sessionResult(code);
        if (meDirection == Receiving) {
            std::filesystem::path path = std::filesystem::path(msDir) / name;
            std::error_code ignored;
            if (std::filesystem::exists(path.string() + ".part", ignored))
                text += "; what came is in " + name + ".part";
            else if (mbKeepsPartial && muBytes > 0 && std::filesystem::is_regular_file(path, ignored))
                text += "; what came stays in " + name + " for a later resume";
        }
        line(text);
    }
}

void TransferReport::failedBefore(const std::string& name, const std::string& reason) {
    ++miFailed;
    line("failed " + name + ": " + reason);
}

}  // namespace Tool
