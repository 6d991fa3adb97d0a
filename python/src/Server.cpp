// PyVaronet::Server: a server of the library as the Python module hands it out.
#include "Server.h"

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/net/socket/TcpServer.h>

namespace PyVaronet {

Server::Server(std::unique_ptr<IO::DeviceServer> server, std::string locator)
    : mpServer(std::move(server)), msLocator(std::move(locator)) {}

Server::~Server() { close(); }

bool Server::waitForCaller(unsigned int ms) {
    std::lock_guard<std::mutex> guard(mLock);
    if (!mpServer) throw IO::Exception(Base::ErrNotOpen, ".", __LINE__, "the server is closed");
    return mpServer->waitForConnection(ms);
}

std::unique_ptr<Device> Server::accept() {
    std::lock_guard<std::mutex> guard(mLock);
    if (!mpServer) throw IO::Exception(Base::ErrNotOpen, ".", __LINE__, "the server is closed");
    std::unique_ptr<IO::Device> connection(mpServer->accept());
    if (!connection) return nullptr;
    if (!connection->isOpen()) connection->open();
    std::string name = connection->getName().str();
    return std::make_unique<Device>(std::move(connection), name.empty() ? msLocator : name);
}

void Server::close() {
    if (mbClosed.exchange(true)) return;
    mpServer->wakeUp();
    std::lock_guard<std::mutex> guard(mLock);
    mpServer.reset();
}

std::optional<unsigned int> Server::port() const {
    if (auto* tcp = dynamic_cast<Net::TcpServer*>(mpServer.get())) return tcp->getLocalPort();
    return std::nullopt;
}

}  // namespace PyVaronet
