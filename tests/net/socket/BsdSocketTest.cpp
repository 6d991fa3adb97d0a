#include <varonet/net/socket/BsdSocket.h>

#include <dirent.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>

#include <gtest/gtest.h>

#include "support/Files.h"
#include "support/TestCalls.h"
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>

// Every allocation of this program is counted, and one can be made to fail on cue.
// ThreadSanitizer keeps operator new for itself: there the test is left out.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VARONET_TSAN 1
#endif
#endif
#if !defined(VARONET_TSAN) && !defined(__SANITIZE_THREAD__)
namespace {
std::atomic<long> gLive{0};
std::atomic<long> gFailIn{0};  // > 0: the allocation that brings it to 0 fails
}  // namespace

void* operator new(std::size_t size) {
    if (gFailIn > 0 && --gFailIn == 0) throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++gLive;
    return p;
}
namespace {
void release(void* p) noexcept {
    if (p) --gLive;
    std::free(p);
}
}  // namespace
void operator delete(void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }

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
        const long live = gLive, descriptors = openDescriptors();
        gFailIn = cue;
        try {
            useSockets();
        } catch (const std::exception&) {  // bad_alloc, or an error whose telling failed to allocate
        }
        failed = gFailIn == 0;  // otherwise the run took fewer allocations: each one has failed once
        gFailIn = 0;
        ASSERT_EQ(gLive, live) << "allocation " << cue;
        ASSERT_EQ(openDescriptors(), descriptors) << "allocation " << cue;
    }
    EXPECT_GT(cue, 30);
    Net::DomainAddress::setDirectory("");
}

}  // namespace
#endif
