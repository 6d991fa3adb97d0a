// A socket pair or pty with the independent T=1 node on a thread at one end and the host's device at the other.
#include "support/T1NodeLink.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include <varonet/base/PseudoTerminal.h>

namespace TestSupport {

T1NodeLink::T1NodeLink(std::uint8_t nad, Kind kind) : mbPty(kind == Kind::Pty) {
    if (mbPty) {
        auto pty = std::make_unique<IO::PseudoTerminal>();  // raw, whoever opens the slave
        mFds[1] = ::open(pty->getSlavePath().str().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (mFds[1] < 0) throw std::runtime_error("pty slave");
        mpHost = std::move(pty);
    } else if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, mFds) != 0) {
        throw std::runtime_error("socketpair");
    } else {
        mpHost = std::make_unique<DescriptorDevice>(mFds[0], true);
    }
    mpFaults = std::make_unique<ScriptedDevice>(mpHost.get(), T1Peer::blockLength);
    mpNode = std::make_unique<T1Peer::T1Node>(mFds[1], nad);
}

T1NodeLink::~T1NodeLink() {
    finish();
    ::close(mFds[1]);
}

void T1NodeLink::start(std::function<void(T1Peer::T1Node&)> body) {
    mThread = std::thread([this, body = std::move(body)] { body(*mpNode); });
}

void T1NodeLink::finish() {
    // A pty slave sees the hang-up only when the master is closed. The host's
    // devices stay (for their records) but must not be used any more.
    if (mbPty) mpHost->close();
    else ::shutdown(mFds[0], SHUT_RDWR);
    if (mThread.joinable()) mThread.join();
}

std::vector<T1Peer::Bytes> T1NodeLink::outbound() const {
    std::vector<T1Peer::Bytes> writes;
    for (const std::string& w : mpFaults->writes()) writes.emplace_back(w.begin(), w.end());
    return writes;
}

}  // namespace TestSupport
