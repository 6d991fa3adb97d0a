#include "support/T1NodeLink.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace TestSupport {

T1NodeLink::T1NodeLink(std::uint8_t nad, Kind kind) : mbPty(kind == Kind::Pty) {
    if (mbPty) {
        mFds[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (mFds[0] < 0 || ::grantpt(mFds[0]) != 0 || ::unlockpt(mFds[0]) != 0)
            throw std::runtime_error("posix_openpt");
        mFds[1] = ::open(::ptsname(mFds[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        if (mFds[1] < 0 || ::tcgetattr(mFds[1], &raw) != 0) throw std::runtime_error("pty slave");
        ::cfmakeraw(&raw);  // every byte value passes untouched
        if (::tcsetattr(mFds[1], TCSANOW, &raw) != 0) throw std::runtime_error("tcsetattr");
    } else if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, mFds) != 0) {
        throw std::runtime_error("socketpair");
    }
    mpHost = std::make_unique<DescriptorDevice>(mFds[0], false);
    mpFaults = std::make_unique<ScriptedDevice>(mpHost.get(), T1Peer::blockLength);
    mpNode = std::make_unique<T1Peer::T1Node>(mFds[1], nad);
}

T1NodeLink::~T1NodeLink() {
    finish();
    if (mFds[0] >= 0) ::close(mFds[0]);
    ::close(mFds[1]);
}

void T1NodeLink::start(std::function<void(T1Peer::T1Node&)> body) {
    mThread = std::thread([this, body = std::move(body)] { body(*mpNode); });
}

void T1NodeLink::finish() {
    // A pty slave sees the hang-up only when the master is closed. The host's
    // devices stay (for their records) but must not be used any more.
    if (!mbPty) {
        ::shutdown(mFds[0], SHUT_RDWR);
    } else if (mFds[0] >= 0) {
        ::close(mFds[0]);
        mFds[0] = -1;
    }
    if (mThread.joinable()) mThread.join();
}

std::vector<T1Peer::Bytes> T1NodeLink::outbound() const {
    std::vector<T1Peer::Bytes> writes;
    for (const std::string& w : mpFaults->writes()) writes.emplace_back(w.begin(), w.end());
    return writes;
}

}  // namespace TestSupport
