#include "support/ByteRelay.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace TestSupport {

ByteRelay::ByteRelay(int a, int b, Damage damage) : mFd{a, b}, mDamage(std::move(damage)) {
    if (::pipe(mWake) != 0) throw std::runtime_error("pipe");
    mThread = std::thread(&ByteRelay::run, this);
}

ByteRelay::~ByteRelay() {
    [[maybe_unused]] long woken = ::write(mWake[1], "", 1);
    for (int fd : mFd) ::shutdown(fd, SHUT_RDWR);  // a write blocked on a side that stopped reading wakes too
    mThread.join();
    for (int fd : {mFd[0], mFd[1], mWake[0], mWake[1]}) ::close(fd);
}

void ByteRelay::run() {
    bool open[2] = {true, true};
    std::vector<char> buffer(64 * 1024);
    while (open[0] || open[1]) {
        pollfd fds[3] = {{open[0] ? mFd[0] : -1, POLLIN, 0}, {open[1] ? mFd[1] : -1, POLLIN, 0}, {mWake[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 || fds[2].revents) return;
        for (int side = 0; side < 2; ++side) {
            if (!open[side] || !(fds[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            long n = ::read(mFd[side], buffer.data(), buffer.size());
            if (n <= 0) {
                open[side] = false;
                ::shutdown(mFd[1 - side], SHUT_WR);
                continue;
            }
            if (mDamage) mDamage(side, buffer.data(), static_cast<std::size_t>(n));
            for (long done = 0; done < n;) {
                long w = ::send(mFd[1 - side], buffer.data() + done, static_cast<std::size_t>(n - done), MSG_NOSIGNAL);
                if (w <= 0) break;  // that side has gone: what is left is lost, as on a cut line
                done += w;
            }
        }
    }
}

ByteRelay::Damage ByteRelay::noise(double p, unsigned seed) {
    struct State {
        std::mt19937_64 gen;
        double next[2];  // bytes until the next damaged one, per direction
    };
    auto state = std::make_shared<State>();
    state->gen.seed(seed);
    auto gap = [p, state]() -> double {
        if (p <= 0) return 1e300;
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        return std::floor(std::log(1.0 - uniform(state->gen)) / std::log(1.0 - p));
    };
    state->next[0] = gap();
    state->next[1] = gap();
    return [state, gap](int direction, char* bytes, std::size_t n) {
        double& at = state->next[direction];
        for (; at < static_cast<double>(n); at += 1 + gap())
            bytes[static_cast<std::size_t>(at)] ^= static_cast<char>(1u << (state->gen() % 8));
        at -= static_cast<double>(n);
    };
}

}  // namespace TestSupport
