// A relay thread between two socket ends that damages what it carries on cue.
#include "support/ByteRelay.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <random>
#include <vector>

namespace TestSupport {

ByteRelay::ByteRelay(int a, int b, Damage damage)
    : mFd{a, b}, mDamage(std::move(damage)), mThread(&ByteRelay::run, this) {}

ByteRelay::~ByteRelay() {
    // Both ends read as closed at once, and a write blocked on a side that
    // stopped reading fails: the thread ends.
    for (int fd : mFd) ::shutdown(fd, SHUT_RDWR);
    mThread.join();
    for (int fd : mFd) ::close(fd);
}

void ByteRelay::run() {
    bool open[2] = {true, true};
    std::vector<char> buffer(64 * 1024);
    while (open[0] || open[1]) {
        pollfd fds[2] = {{open[0] ? mFd[0] : -1, POLLIN, 0}, {open[1] ? mFd[1] : -1, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) return;
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
    // One generator per direction: the damage does not depend on how the two interleave.
    auto generators = std::make_shared<std::array<std::mt19937_64, 2>>();
    (*generators)[0].seed(seed);
    (*generators)[1].seed(seed + 1);
    return [p, generators](int direction, char* bytes, std::size_t n) {
        std::mt19937_64& generator = (*generators)[static_cast<std::size_t>(direction)];
        std::bernoulli_distribution hit(p);
        for (std::size_t k = 0; k < n; ++k)
            if (hit(generator)) bytes[k] ^= static_cast<char>(1u << (generator() % 8));
    };
}

}  // namespace TestSupport
