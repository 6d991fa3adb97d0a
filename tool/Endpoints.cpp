// Tool::endpointsOf: where a server side listens and who called it, as text.
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include <varonet/udl/ServerDevice.h>

#include "Tool.h"

namespace Tool {

// Servers of TCP listen on every interface (0.0.0.0); other servers (pipes,
// serial lines, modems) and client devices tell nothing.
Endpoints endpointsOf(IO::Device& device) {
    Endpoints found;
    auto* server = dynamic_cast<IO::ServerDevice*>(&device);
    if (!server) return found;
    if (auto* tcp = dynamic_cast<Net::TcpIp4Server*>(server->getServer())) {
        found.listening = "0.0.0.0:" + std::to_string(tcp->getLocalPort());
        found.allInterfaces = true;
    }
    if (auto* caller = dynamic_cast<Net::TcpIp4Device*>(server->getConnection()))
        found.caller = caller->getPeerIP().str() + ":" + std::to_string(caller->getPeerPort());
    return found;
}

}  // namespace Tool
