// What a caller relies on from either stream socket kind, TCP on 127.0.0.1 and
// local pipes: a server takes callers in turn, bytes go both ways, waits time
// out or are woken, copies share one connection, and a peer that has gone shows
// as the end of the stream (its last bytes first) and as an error to a writer.
#include <cerrno>
#include <memory>

#include <gtest/gtest.h>

#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/SocketErrors.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include "support/Files.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;
using TestSupport::codeWhenWoken;
using TestSupport::readFor;

// The parameter: true for local pipes, false for TCP.
class SocketContract : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { Net::DomainAddress::setDirectory(mTemp.file("pipes")); }
    void TearDown() override { Net::DomainAddress::setDirectory(""); }
    template <class D>
    static std::unique_ptr<IO::Device> copyOf(IO::Device& device) {
        return std::make_unique<D>(static_cast<D&>(device));
    }
    TestSupport::TempDir mTemp;
};

TEST_P(SocketContract, ServesCallersInTurnCarriesBytesAndShowsThePeerGone) {
    const bool pipe = GetParam();
    std::unique_ptr<IO::DeviceServer> server(pipe ? static_cast<IO::DeviceServer*>(new Net::DomainServer("gateway"))
                                                  : new Net::TcpIp4Server(0));
    std::unique_ptr<IO::Device> client(
        pipe ? static_cast<IO::Device*>(new Net::DomainDevice("gateway"))
             : new Net::TcpIp4Device("127.0.0.1", static_cast<Net::TcpIp4Server&>(*server).getLocalPort(), 0));
    auto copy = [&] { return pipe ? copyOf<Net::DomainDevice>(*client) : copyOf<Net::TcpIp4Device>(*client); };
    OS::StopWatch watch;
    EXPECT_FALSE(server->waitForConnection(50));
    EXPECT_GE(watch.getElapsed(), 45u);
    EXPECT_EQ(codeWhenWoken([&] { delete server->acceptInternal(); }, [&] { server->wakeUp(); }),
              pipe ? Net::ErrPipeAcceptWait : unsigned(EINTR));
    server->wakeUp();  // a pending wake-up ends even an endless wait
    EXPECT_FALSE(server->waitForConnection(0xFFFFFFFFu));
    auto accepting = TestSupport::startBlocked([&] { return server->acceptInternal(); });
    client->open();  // a blocking accept waits for its caller
    std::unique_ptr<IO::Device> served(accepting.get());
    server->setBlocking(false);
    EXPECT_THROW(delete server->acceptInternal(), IO::WouldBlockException);  // nobody waits
    watch.start();
    EXPECT_FALSE(served->waitForData(80));
    EXPECT_GE(watch.getElapsed(), 75u);
    char c;
    EXPECT_EQ(codeWhenWoken([&] { client->readInternal(&c, 1); }, [&] { client->wakeUp(); }), unsigned(EINTR));
    served->write("to client", 9);
    EXPECT_EQ(readFor(*client, 9, 5000), "to client");
    copy()->write("abc", 3);
    EXPECT_TRUE(client->isOpen());  // a copy going away keeps the connection open
    copy()->close();                // closing one closes it for all
    EXPECT_FALSE(client->isOpen());
    EXPECT_TRUE(served->waitForData(0));  // the other end has gone, its last bytes have not
    EXPECT_EQ(readFor(*served, 3, 5000), "abc");
    EXPECT_EQ(codeOf([&] { served->waitForData(5000), served->size(); }),
              pipe ? unsigned(EPIPE) : Net::ErrReadEventNoData);
    EXPECT_TRUE(served->isEOF());
    client->open();  // a closed device opens again, and the server takes the next caller at once
    ASSERT_TRUE(server->waitForConnection(0));
    delete server->acceptInternal();  // whose other end then goes
    std::vector<char> block(65536, 'w');
    unsigned int code = codeOf([&] {
        for (int i = 0; i < 64; ++i) client->write(block.data(), static_cast<long>(block.size()));
    });
    EXPECT_TRUE(code == EPIPE || code == ECONNRESET) << code;  // and no SIGPIPE
}

INSTANTIATE_TEST_SUITE_P(Kinds, SocketContract, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Pipe" : "Tcp"); });

}  // namespace
