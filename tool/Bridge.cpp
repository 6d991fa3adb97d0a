// Tool::Bridge: standard input and output joined with a device, for cat and term.
#include "Bridge.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace Tool {

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned int kSliceMs = 100;  // how often the reading side looks at the other ends

/// Writes everything; false when the descriptor is closed for good (EPIPE and the like).
bool writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, kSliceMs);
            continue;
        }
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string mapNewlines(const std::string& text, bool lfToCrLf) {
    std::string out;
    for (char c : text) {
        if (lfToCrLf && c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

Bridge::Bridge(IO::Device& device, const Options& options) : mShared(device), mOptions(options), mCommands(mShared) {}

bool Bridge::show(const std::string& text) {
    if (!text.empty()) mbAtLineStart = text.back() == '\n';
    return writeAll(mOptions.outFd, text.data(), text.size());
}

// The typed keys as they go to the device: the escape key and the command key
// after it are taken out (and the command run), Enter is mapped.
std::string Bridge::keysToSend(const char* typed, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length && !mbEscaped; ++i) {
        char c = typed[i];
        if (mbCommandNext) {
            mbCommandNext = false;
            if (c == 'q' || c == '.') mbEscaped = true;
            else if (c == static_cast<char>(mOptions.escape)) out += c;
            else show(mapNewlines((mbAtLineStart ? "*** " : "\n*** ") + mCommands.run(c) + "\n", true));
        } else if (mOptions.escape >= 0 && c == static_cast<char>(mOptions.escape)) {
            mbCommandNext = true;
        } else if (c == '\r' && !mOptions.enter.empty()) {
            out += mOptions.enter;
        } else {
            out += c;
        }
    }
    return out;
}

// The input thread: keys (or standard input) to the device, until the input
// ends, the escape command quits, or the bridge ends.
void Bridge::pumpInput() {
    char buffer[4096];
    try {
        while (!mbQuit && !mbEscaped) {
            pollfd p[3] = {{mOptions.inFd, POLLIN, 0}, {Signals::stopFd(), POLLIN, 0}, {mWake[0], POLLIN, 0}};
            if (::poll(p, 3, -1) < 0) {
                if (errno == EINTR) continue;
                throw Failure(std::string("poll: ") + std::strerror(errno));
            }
            if (p[1].revents || p[2].revents) return;
            ssize_t n = ::read(mOptions.inFd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n < 0) throw Failure(std::string("reading standard input: ") + std::strerror(errno));
            if (n == 0) {
                mInputEndedAt = Clock::now().time_since_epoch().count();
                mbInputEnded = true;
                return;
            }
            std::string out = keysToSend(buffer, static_cast<std::size_t>(n));
            if (out.empty()) continue;
            if (mOptions.echo) show(mapNewlines(out, true));
            if (mOptions.dump) mOptions.dump->show('>', out.data(), out.size());
            mShared.write(out.data(), static_cast<long>(out.size()));
            mShared.flush();
        }
    } catch (...) {
        mInputFailure = std::current_exception();
        mbInputEnded = true;
    }
}

// Readable, but nothing came: a device that closed or ended, or a serial line
// whose far side hung up (a pty whose other end closed keeps saying readable).
Bridge::EEnd Bridge::afterNothingRead() {
    if (!mShared.isOpen() || mShared.device().isEOF()) return DeviceClosed;
    return HungUp;
}

// The caller's thread: the device to the output, until one of the ends.
Bridge::EEnd Bridge::pumpOutput() {
    Clock::time_point lastData = Clock::now();
    char buffer[65536];
    for (;;) {
        if (Signals::stopRequested()) return Stopped;
        if (mbEscaped) return EscapeKey;
        if (mbInputEnded && mInputFailure) {
            if (!mShared.isOpen()) return DeviceClosed;
            std::rethrow_exception(mInputFailure);
        }
        unsigned int slice = kSliceMs;
        if (mbInputEnded) {
            Clock::time_point since = std::max(lastData, Clock::time_point(Clock::duration(mInputEndedAt.load())));
            auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
            if (quiet >= static_cast<long long>(mOptions.lingerMs)) return InputEnded;
            slice = std::min<unsigned int>(slice, static_cast<unsigned int>(mOptions.lingerMs - quiet));
        }
        bool ready = false;
        try {
            ready = mShared.waitForData(slice);
        } catch (const Base::Exception&) {
            // A peer that closed shows up here (readable, but no bytes).
            if (!mShared.isOpen() || mShared.device().isEOF()) return DeviceClosed;
            throw;
        }
        if (!ready) {
            if (!mShared.isOpen()) return DeviceClosed;
            continue;
        }
        long n = mShared.read(buffer, sizeof buffer);
        if (n <= 0) return afterNothingRead();
        lastData = Clock::now();
        if (mOptions.dump) mOptions.dump->show('<', buffer, static_cast<std::size_t>(n));
        if (mOptions.log) mOptions.log->record(buffer, static_cast<std::size_t>(n));
        if (!show(mapNewlines(std::string(buffer, static_cast<std::size_t>(n)), mOptions.inCrLf))) return OutputClosed;
    }
}

Bridge::EEnd Bridge::run() {
    if (::pipe(mWake) != 0) throw Failure(std::string("pipe: ") + std::strerror(errno));
    std::thread input([this] { pumpInput(); });
    EEnd end = Stopped;
    std::exception_ptr failure;
    try {
        end = pumpOutput();
    } catch (...) {
        failure = std::current_exception();
    }
    mbQuit = true;
    char byte = 1;
    [[maybe_unused]] ssize_t w = ::write(mWake[1], &byte, 1);
    input.join();
    ::close(mWake[0]);
    ::close(mWake[1]);
    if (failure) std::rethrow_exception(failure);
    return end;
}

}  // namespace Tool
