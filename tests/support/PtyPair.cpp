#include "support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace TestSupport {

PtyPair::PtyPair() {
    miMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (miMaster < 0 || ::grantpt(miMaster) != 0 || ::unlockpt(miMaster) != 0)
        throw std::runtime_error("cannot create a pty");
    msSlave = ::ptsname(miMaster);
    miSlaveHold = ::open(msSlave.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(miMaster, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(miMaster, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    if (miSlaveHold >= 0) ::close(miSlaveHold);
    if (miMaster >= 0) ::close(miMaster);
}

void PtyPair::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(miMaster, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("pty write failed");
        done += static_cast<std::size_t>(n);
    }
}

std::string PtyPair::read(std::size_t count, unsigned int ms) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{miMaster, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        ssize_t n = ::read(miMaster, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

}  // namespace TestSupport
