// Socket records under failed allocations: nothing leaks and nothing is freed twice.
#include <varonet/net/socket/detail/BsdSocket.h>

#include <dirent.h>

#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include "support/Files.h"
#include "support/TestCalls.h"

// Every allocation of this program is counted, and one can be made to fail on cue.
#include "support/CountingAllocator.h"
#if VARONET_COUNTING_ALLOCATOR
namespace Heap = TestSupport::Allocations;

namespace {

// Servers, connections, copies and accepts of both kinds.
void useSockets() {
    Net::TcpIp4Server server(0);
    Net::TcpIp4Device client("127.0.0.1", server.getLocalPort(), 1000);
    client.open();
    std::unique_ptr<IO::Device> served(server.acceptInternal());
    Net::TcpIp4Device copy(client);
    copy = client;
    Net::TcpIp4Server sharing(server);
    Net::DomainServer pipes("fault");
    Net::DomainDevice pipe("fault"), other(pipe);
    pipe.open();
    std::unique_ptr<IO::Device> pipeServed(pipes.acceptInternal());
    Net::DomainServer copied(pipes);
}

long openDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

// Each allocation on the way fails in turn: whatever was built up to then is
// freed once and its descriptors are closed.
TEST(BsdSocketTest, AFailedAllocationAnywhereLeaksNothingAndFreesNothingTwice) {
    TestSupport::TempDir temp;
    Net::DomainAddress::setDirectory(temp.file("pipes"));
    useSockets();  // anything built once per process is built now
    long cue = 1;
    for (bool failed = true; failed; ++cue) {
        const long live = Heap::blocks, descriptors = openDescriptors();
        Heap::failIn = cue;
        try {
            useSockets();
        } catch (const std::exception&) {  // bad_alloc, or an error whose telling failed to allocate
        }
        failed = Heap::failIn == 0;  // otherwise the run took fewer allocations: each one has failed once
        Heap::failIn = 0;
        ASSERT_EQ(Heap::blocks, live) << "allocation " << cue;
        ASSERT_EQ(openDescriptors(), descriptors) << "allocation " << cue;
    }
    EXPECT_GT(cue, 30);
    Net::DomainAddress::setDirectory("");
}

}  // namespace
#endif
