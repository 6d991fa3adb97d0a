#include "Bridge.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
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

std::string mapNewlines(const char* data, std::size_t length, bool lfToCrLf) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        if (lfToCrLf && data[i] == '\n') out += '\r';
        out += data[i];
    }
    return out;
}

}  // namespace

Bridge::EEnd Bridge::run() {
    std::mutex deviceLock;
    std::atomic<bool> inputEnded{false}, escaped{false}, quit{false};
    std::exception_ptr inputFailure;
    std::atomic<long long> inputEndedAt{0};
    int wake[2];
    if (::pipe(wake) != 0) throw Failure(std::string("pipe: ") + std::strerror(errno));

    std::thread input([&] {
        char buffer[4096];
        try {
            while (!quit) {
                pollfd p[3] = {{mOptions.inFd, POLLIN, 0}, {Signals::stopFd(), POLLIN, 0}, {wake[0], POLLIN, 0}};
                if (::poll(p, 3, -1) < 0) {
                    if (errno == EINTR) continue;
                    throw Failure(std::string("poll: ") + std::strerror(errno));
                }
                if (p[1].revents || p[2].revents) return;
                ssize_t n = ::read(mOptions.inFd, buffer, sizeof buffer);
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (n < 0) throw Failure(std::string("reading standard input: ") + std::strerror(errno));
                if (n == 0) {
                    inputEndedAt = Clock::now().time_since_epoch().count();
                    inputEnded = true;
                    return;
                }
                std::string keys(buffer, static_cast<std::size_t>(n));
                if (mOptions.escape >= 0) {
                    std::size_t at = keys.find(static_cast<char>(mOptions.escape));
                    if (at != std::string::npos) {
                        keys.resize(at);
                        escaped = true;
                    }
                }
                std::string out;
                for (char c : keys) {
                    if (c == '\r' && !mOptions.enter.empty()) out += mOptions.enter;
                    else out += c;
                }
                if (mOptions.echo) {
                    std::string shown = mapNewlines(out.data(), out.size(), true);
                    writeAll(mOptions.outFd, shown.data(), shown.size());
                }
                if (mOptions.dump) mOptions.dump->show('>', out.data(), out.size());
                {
                    std::lock_guard<std::mutex> guard(deviceLock);
                    long done = 0, length = static_cast<long>(out.size());
                    while (done < length) {
                        long written = mrDevice.write(out.data() + done, length - done);
                        if (written <= 0) break;
                        done += written;
                    }
                    mrDevice.flush();
                }
                if (escaped) return;
            }
        } catch (...) {
            inputFailure = std::current_exception();
            inputEnded = true;
        }
    });

    EEnd end = Stopped;
    std::exception_ptr failure;
    Clock::time_point lastData = Clock::now();
    char buffer[65536];
    try {
        for (;;) {
            if (Signals::stopRequested()) {
                end = Stopped;
                break;
            }
            if (escaped) {
                end = EscapeKey;
                break;
            }
            if (inputEnded && inputFailure) {  // written before inputEnded
                if (!mrDevice.isOpen()) {
                    end = DeviceClosed;
                    break;
                }
                std::rethrow_exception(inputFailure);
            }
            auto now = Clock::now();
            unsigned int slice = kSliceMs;
            if (inputEnded) {
                Clock::time_point since = std::max(lastData, Clock::time_point(Clock::duration(inputEndedAt.load())));
                auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count();
                if (quiet >= static_cast<long long>(mOptions.lingerMs)) {
                    end = InputEnded;
                    break;
                }
                slice = std::min<unsigned int>(slice, static_cast<unsigned int>(mOptions.lingerMs - quiet));
            }
            bool ready = false;
            try {
                ready = mrDevice.waitForData(slice);
            } catch (const Base::Exception&) {
                // A peer that closed shows up here (readable, but no bytes).
                if (!mrDevice.isOpen() || mrDevice.isEOF()) {
                    end = DeviceClosed;
                    break;
                }
                throw;
            }
            if (!ready) {
                if (!mrDevice.isOpen()) {
                    end = DeviceClosed;
                    break;
                }
                continue;
            }
            long n = 0;
            {
                std::lock_guard<std::mutex> guard(deviceLock);
                long available = mrDevice.size();
                if (available > 0) n = mrDevice.read(buffer, std::min<long>(available, sizeof buffer));
                else if (mrDevice.isOpen() && !mrDevice.isEOF()) n = mrDevice.read(buffer, sizeof buffer);
            }
            if (n <= 0) {
                if (!mrDevice.isOpen() || mrDevice.isEOF()) {
                    end = DeviceClosed;
                    break;
                }
                continue;
            }
            lastData = Clock::now();
            if (mOptions.dump) mOptions.dump->show('<', buffer, static_cast<std::size_t>(n));
            std::string shown = mapNewlines(buffer, static_cast<std::size_t>(n), mOptions.inCrLf);
            if (!writeAll(mOptions.outFd, shown.data(), shown.size())) {
                end = OutputClosed;
                break;
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    quit = true;
    char byte = 1;
    [[maybe_unused]] ssize_t w = ::write(wake[1], &byte, 1);
    input.join();
    ::close(wake[0]);
    ::close(wake[1]);
    if (failure) std::rethrow_exception(failure);
    return end;
}

}  // namespace Tool
