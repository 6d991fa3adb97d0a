#pragma once
// Ser2net: Debian's ser2net serving a serial device (a pseudo-terminal's
// slave) with RFC 2217 on a free port of 127.0.0.1, for the life of the
// object: the remote end our RFC 2217 client is tested against.

#include <memory>
#include <string>

#include "support/Process.h"

namespace TestSupport {

class Ser2net {
public:
    /// Starts it with its configuration (and log) in folder; port() is 0 when
    /// it did not listen within 5 s.
    Ser2net(const std::string& device, const std::string& folder);
    unsigned int port() const { return muPort; }
    const ChildProcess& process() const { return *mpProcess; }

private:
    unsigned int muPort = 0;
    std::unique_ptr<ChildProcess> mpProcess;
};

}  // namespace TestSupport
