// Tool::Signals: SIGINT and SIGTERM turned into a stop request a subcommand can wait on.
#include "Signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "Tool.h"

namespace Tool {

namespace {
std::atomic<bool> gStop{false};
int gStopPipe[2] = {-1, -1};
std::mutex gWakeMutex;
std::map<int, std::function<void()>> gWakes;
int gNextWake = 0;

void stopNow() {
    if (gStop.exchange(true)) return;
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gStopPipe[1], &byte, 1);
    std::lock_guard<std::mutex> guard(gWakeMutex);
    for (auto& [id, wake] : gWakes) wake();
}
}  // namespace

void Signals::install() {
    if (::pipe2(gStopPipe, O_CLOEXEC) != 0) throw Failure(std::string("pipe: ") + std::strerror(errno));
    ::signal(SIGPIPE, SIG_IGN);  // a closed output shows as EPIPE
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every thread started later inherits the mask
    std::thread([set] {
        for (int count = 0;;) {
            // After a stop the wake-ups are repeated: one that came just before
            // a wait began may have been used up by a look that did not wait.
            timespec slice{0, 100 * 1000 * 1000};
            int signal = gStop ? sigtimedwait(&set, nullptr, &slice) : sigwaitinfo(&set, nullptr);
            if (signal > 0) {
                // A second signal ends a program that did not stop in time.
                if (count++ > 0) ::_exit(ExitFailed);
                stopNow();
            } else if (gStop) {
                std::lock_guard<std::mutex> guard(gWakeMutex);
                for (auto& [id, wake] : gWakes) wake();
            }
        }
    }).detach();
}

bool Signals::stopRequested() { return gStop.load(); }
int Signals::stopFd() { return gStopPipe[0]; }
void Signals::requestStop() { stopNow(); }

int Signals::onStop(std::function<void()> wake) {
    std::unique_lock<std::mutex> guard(gWakeMutex);
    int id = ++gNextWake;
    gWakes[id] = wake;
    guard.unlock();
    if (gStop.load()) wake();
    return id;
}

void Signals::remove(int id) {
    // Taking the lock waits for a wake-up that is running right now.
    std::lock_guard<std::mutex> guard(gWakeMutex);
    gWakes.erase(id);
}

}  // namespace Tool
