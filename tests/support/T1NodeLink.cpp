#include "support/T1NodeLink.h"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

T1NodeLink::T1NodeLink(std::uint8_t nad) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, mFds) != 0) throw std::runtime_error("socketpair");
    mpHost = std::make_unique<T1DescriptorDevice>(mFds[0], false);
    mpFaults = std::make_unique<T1FaultDevice>(mpHost.get());
    mpNode = std::make_unique<T1Peer::T1Node>(mFds[1], nad);
}

T1NodeLink::~T1NodeLink() {
    finish();
    ::close(mFds[0]);
    ::close(mFds[1]);
}

void T1NodeLink::start(std::function<void(T1Peer::T1Node&)> body) {
    mThread = std::thread([this, body = std::move(body)] { body(*mpNode); });
}

void T1NodeLink::finish() {
    ::shutdown(mFds[0], SHUT_RDWR);
    if (mThread.joinable()) mThread.join();
}
