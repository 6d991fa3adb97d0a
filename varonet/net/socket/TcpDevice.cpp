// The TCP client and accepted connection over IPv6 and IPv4.
#include <varonet/net/socket/TcpDevice.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/detail/BsdSocketDeviceInternal.h>
#include <varonet/net/socket/detail/InetAddress.h>

namespace Net {

namespace {
unsigned int checkedPort(const Base::String& host, unsigned int port) {
    if (port == 0 || port > 65535)
        throw Base::Exception(ErrBadPort, ".", __LINE__,
                              "port " + Base::String::fromUnsigned(port) + " of " + host + " is not in 1..65535");
    return port;
}

Base::String withoutBrackets(const Base::String& host) {
    return host.startsWith("[") && host.str().back() == ']' ? host.substring(1, host.length() - 2) : host;
}

// What one connect attempt came to, for the text of a failed open.
struct Attempt {
    Base::String address;  // "IPv6 [::1]:7000"
    int error = 0;         // errno, or 0 for a time-out
    unsigned int ms = 0;   // the time-out it had
    Base::String reason() const {
        return error ? Base::String(std::strerror(error))
                     : "no answer within " + Base::String::fromUnsigned(ms) + " ms";
    }
};

// "connect to IPv6 [::1]:7000" for one address; with several, each earlier one
// with its reason: "connect to localhost:7000, tried IPv6 [::1]:7000: Connection
// refused, then IPv4 127.0.0.1:7000". The last attempt's reason follows it.
Base::String describeAttempts(const Base::String& target, const std::vector<Attempt>& attempts) {
    if (attempts.size() == 1) return "connect to " + attempts.front().address;
    Base::String text = "connect to " + target + ", tried ";
    for (std::size_t i = 0; i + 1 < attempts.size(); ++i)
        text += attempts[i].address + ": " + attempts[i].reason() + ", then ";
    return text + attempts.back().address;
}
}  // namespace

TcpDevice::TcpDevice(const Base::String& host, unsigned int port, unsigned int connectTimeout)
    : BsdSocketDevice(BsdSocketType::tcpIp6(), connectTimeout), msHost(withoutBrackets(host)),
      muPort(checkedPort(host, port)), muConnectTimeout(connectTimeout), msPeerAddress(""), msLocalAddress("") {}

TcpDevice::TcpDevice(std::unique_ptr<BsdSocketDeviceInternal> socket)
    : BsdSocketDevice(std::move(socket)), muPort(0), muConnectTimeout(0) {
    readAddresses();
    getSocket().setNoDelay(mbNoDelay);
}

void TcpDevice::open() {
    if (isOpen()) return;  // isOpen also drops a socket left over from a failed connect
    const Base::String target = InetAddress::bracketed(msHost) + ":" + Base::String::fromUnsigned(muPort);
    if (msHost.isEmpty()) IO::checkSystemError(EADDRNOTAVAIL, "connect to " + target);
    std::vector<InetAddress> addresses;
    for (const Base::String& text : lookUpHost()) {
        InetAddress address;
        if (InetAddress::parse(text, muPort, address)) addresses.push_back(address);
    }
    if (addresses.empty()) throw IO::Exception(ErrHostNotFound, ".", __LINE__, "host not found: " + target);
    BsdSocket& socket = getSocket();
    std::vector<Attempt> attempts;
    OS::StopWatch watch;
    socket.takeWakeUp();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const InetAddress& address = addresses[i];
        Attempt attempt{address.getFamilyName() + (" " + address.toString())};
        if (muConnectTimeout != 0) {
            // Each address that is left gets an equal share of the time that is left.
            unsigned int left = watch.getRemaining(muConnectTimeout);
            if (left == 0) break;
            attempt.ms = std::max(1u, left / static_cast<unsigned int>(addresses.size() - i));
        }
        socket.setFamily(address.getFamily());
        socket.setConnectTimeout(attempt.ms);
        try {
            // Linux would take the any-address as this machine; it names no peer.
            if (address.isAny()) IO::checkSystemError(EADDRNOTAVAIL, "connect to " + attempt.address);
            socket.connect(address.getSockAddr(), address.getSockAddrLength());
            socket.setConnectTimeout(muConnectTimeout);
            socket.setNoDelay(mbNoDelay);
            readAddresses();
            return;
        } catch (const IO::SystemException& e) {
            attempt.error = static_cast<int>(e.getErrorCode());
        } catch (const Base::TimeoutException&) {}
        attempts.push_back(attempt);
        if (attempt.error == 0 && socket.takeWakeUp()) break;  // woken: the open ends here
    }
    socket.setConnectTimeout(muConnectTimeout);
    socket.close();
    const Base::String text = describeAttempts(target, attempts);
    if (attempts.back().error) IO::checkSystemError(attempts.back().error, text);
    throw Base::TimeoutException(
        ".", __LINE__,
        text + ": no answer" +
            (muConnectTimeout ? " within " + Base::String::fromUnsigned(muConnectTimeout) + " ms" : Base::String("")));
}

std::vector<Base::String> TcpDevice::lookUpHost() {
    std::vector<Base::String> texts;
    for (const InetAddress& address : InetAddress::lookUp(msHost, muPort, meFamily)) texts.push_back(address.getIP());
    return texts;
}

Base::String TcpDevice::getName() { return InetAddress::bracketed(msHost) + ":" + Base::String::fromUnsigned(muPort); }

void TcpDevice::setConnectTimeout(unsigned int ms) {
    BsdSocketDevice::setConnectTimeout(ms);
    muConnectTimeout = ms;
}

void TcpDevice::setNoDelay(bool on) {
    mbNoDelay = on;
    getSocket().setNoDelay(on);
}

void TcpDevice::readAddresses() {
    const InetAddress local = InetAddress::ofSocket(getSocket(), false);
    const InetAddress peer = InetAddress::ofSocket(getSocket(), true);
    msLocalAddress = local.toString();
    msPeerAddress = peer.toString();
    if (msHost.isEmpty()) {  // an accepted connection is named by its caller
        msHost = peer.getIP();
        muPort = peer.getPort();
    }
}

}  // namespace Net
