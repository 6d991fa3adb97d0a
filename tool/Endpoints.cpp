// Tool::endpointsOf: where a server side listens and who called it, as text.
#include <varonet/net/rfc2217/Rfc2217Server.h>
#include <varonet/net/socket/TcpDevice.h>
#include <varonet/net/socket/TcpServer.h>
#include <varonet/udl/ServerDevice.h>

#include "Tool.h"

namespace Tool {

// TCP servers (plain or RFC 2217) tell where they listen and who called;
// other servers (pipes, serial lines, modems) and client devices tell nothing.
Endpoints endpointsOf(IO::Device& device) {
    Endpoints found;
    auto* server = dynamic_cast<IO::ServerDevice*>(&device);
    if (!server) return found;
    auto* tcp = dynamic_cast<Net::TcpServer*>(server->getServer());
    if (!tcp) return found;
    found.listening = tcp->getListenAddress().str();
    found.allInterfaces = tcp->listensEverywhere();
    IO::Device* connection = server->getConnection();
    if (auto* caller = dynamic_cast<Net::TcpDevice*>(connection)) found.caller = caller->getPeerAddress().str();
    else if (connection && dynamic_cast<Net::Rfc2217Server*>(tcp))
        found.caller = connection->getName().str();  // an RFC 2217 connection is named by its caller
    return found;
}

}  // namespace Tool
