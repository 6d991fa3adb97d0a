// The relay: one way and both ways, stopping in every state, the retry pause, and bulk through an echo.
#include <varonet/udl/Proxy.h>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpServer.h>
#include <varonet/udl/ServerDevice.h>
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/TestCalls.h"

namespace {

using Clock = std::chrono::steady_clock;
using TestSupport::readFor;

// Records each call of the relays as a line; tests wait on it instead of sleeping.
struct Recorder : UDL::ProxyDumper {
    void opened(const Base::String& self, const Base::String&) override { note("opened " + self.str()); }
    void dump(const Base::String& self, const Base::String& other, const Base::ByteArray& data) override {
        note(self.str() + ">" + other.str() + ":" + (data.size() > 64 ? "many" : data.toString().str()));
    }
    void closed(const Base::String& self, const Base::String&) override { note("closed " + self.str()); }
    void openFailed(const Base::String&, const Base::String&, const Base::Exception& e) override {
        note(std::string("failed ") + e.what());
    }
    void dropped(const Base::String& self, const Base::String&, long n) override {
        note("dropped " + std::to_string(n) + " from " + self.str());
    }
    void note(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
        changed.notify_all();
    }
    /// Waits up to 5 s until n lines start with prefix (lines are read only here or after the relays).
    bool waitFor(const std::string& prefix, long n = 1) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] {
            return std::count_if(lines.begin(), lines.end(), [&](auto& l) { return l.rfind(prefix, 0) == 0; }) >= n;
        });
    }
    std::vector<std::string> lines;
    std::mutex mutex;
    std::condition_variable changed;
};

// The test's far end of a side that waits for callers: "server:tcpip:Port=0"
// (a TCP caller) or "server:domain:NAME" (a pipe client). Callers may come
// before the side's thread starts; they queue.
std::unique_ptr<IO::Device> call(UDL::Proxy& side, const char* pipe = nullptr) {
    auto* server = static_cast<IO::ServerDevice*>(side.getDevice())->getServer();
    std::unique_ptr<IO::Device> caller(
        pipe ? static_cast<IO::Device*>(new Net::DomainDevice(pipe))
             : new Net::TcpIp4Device("127.0.0.1", static_cast<Net::TcpServer*>(server)->getLocalPort(), 0));
    caller->open();
    return caller;
}

class ProxyTest : public ::testing::Test {
protected:
    Recorder mSeen;
};

TEST_F(ProxyTest, OneWayRelayDropsWhatAClosedReceiverCannotTakeAndCopiesShareASide) {
    EXPECT_EQ(TestSupport::messageOf([] { UDL::Proxy("none:", nullptr); }),
              "error 0: the locator names no device: 'none:'");
    UDL::Proxy pa("server:tcpip:Port=0", &mSeen), pb("server:tcpip:Port=0", nullptr), copy(pa),
        other("loopback:", nullptr);
    other = copy;
    pa.receiver(pb);
    EXPECT_EQ(other.getDevice(), pa.getDevice());
    EXPECT_EQ(TestSupport::messageOf([&] { pb.check(); }), "error 0: the proxy has no receiver");  // its run ends so
    auto farA = call(pa), farB = call(pb);
    pa.start();
    // Each chunk is shown before it is written: once the second one is shown, the first
    // has met b's closed device.
    for (const char* chunk : {"lost", "gone"}) {
        farA->write(Base::String(chunk));
        ASSERT_TRUE(mSeen.waitFor("server:tcpip:Port=0>server:tcpip:Port=0:" + std::string(chunk)));
    }
    pb.withDevice([](IO::Device& device) { device.open(); });  // under b's lock, which a's writes take too
    farA->write(Base::String("kept"));
    std::string got = readFor(*farB, 4, 5000);
    if (got == "gone") got = readFor(*farB, 4, 5000);  // written or dropped, as b's open came
    EXPECT_EQ(got, "kept");
}

TEST_F(ProxyTest, DeletingAServerSideEndsWithinASecondInEveryState) {
    enum State { NoCaller, Connected, CallerGone, Retrying };
    for (State state : {NoCaller, Connected, CallerGone, Retrying}) {
        SCOPED_TRACE(state);
        Recorder seen;
        auto side = std::make_unique<UDL::Proxy>(
            state == Retrying ? "server:tcpip:Port=0,ConnectTimeout=20" : "server:tcpip:Port=0", &seen);
        UDL::Proxy sink("loopback:", nullptr);
        side->receiver(sink);
        side->setRetryPause(60000, 60000);
        auto caller = state == Connected || state == CallerGone ? call(*side) : nullptr;
        side->start();
        // Each state is reached when the side says so.
        bool reached = state == NoCaller || seen.waitFor(state == Retrying ? "failed" : "opened");
        if (state == CallerGone) {
            caller.reset();
            reached = seen.waitFor("closed");
        }
        ASSERT_TRUE(reached);
        auto start = Clock::now();
        side.reset();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    }
}

// The partner writes into a side that waits for its next caller: the write is
// refused at once (and reported), so neither proxy is held when deleted.
TEST_F(ProxyTest, AWriteToASideWaitingForItsCallerIsDroppedAtOnce) {
    auto side = std::make_unique<UDL::Proxy>("server:tcpip:Port=0", &mSeen);
    auto partner = std::make_unique<UDL::Proxy>("server:tcpip:Port=0", &mSeen);
    side->partner(*partner);
    auto caller = call(*side), far = call(*partner);
    side->start();
    partner->start();
    ASSERT_TRUE(mSeen.waitFor("opened", 2));
    caller.reset();
    ASSERT_TRUE(mSeen.waitFor("closed"));
    far->write(Base::String("late"));
    ASSERT_TRUE(mSeen.waitFor("dropped 4 from"));
    auto start = Clock::now();
    partner.reset();
    side.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

// Waiting for the receiver: the server side accepts its caller only once the
// receiver is open, so the caller's early bytes reach it instead of being dropped.
TEST_F(ProxyTest, WaitingForTheReceiverDeliversWhatACallerSentBeforeItOpened) {
    const unsigned int port = TestSupport::unusedPort();
    {
        UDL::Proxy side("server:tcpip:Port=0", &mSeen), backEnd("tcpip:127.0.0.1@" + std::to_string(port), &mSeen);
        side.partner(backEnd);
        side.setReceiverClosed(UDL::Proxy::WaitForReceiver);
        backEnd.setRetryPause(20, 20);
        auto caller = call(side);
        caller->write(Base::String("early"));
        side.start();
        backEnd.start();
        ASSERT_TRUE(mSeen.waitFor("failed", 2));
        Net::TcpServer listener(port);
        std::unique_ptr<IO::Device> far(listener.accept());
        EXPECT_EQ(readFor(*far, 5, 5000), "early");
    }
    EXPECT_EQ(mSeen.lines.front().rfind("failed", 0), 0u);  // nothing opened before the back end
}

TEST_F(ProxyTest, RetryPauseDoublesBetweenFailedOpensUpToItsMost) {
    const unsigned int port = TestSupport::unusedPort();
    const auto start = Clock::now();
    {
        UDL::Proxy side("tcpip:127.0.0.1@" + std::to_string(port), &mSeen), sink("loopback:", nullptr);
        side.receiver(sink);
        side.setRetryPause(40, 120);
        side.start();
        ASSERT_TRUE(mSeen.waitFor("failed", 5));
    }
    // Five attempts take at least the pauses between them: 40 + 80 + 120 + 120 ms.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(360));
    EXPECT_EQ(mSeen.lines[0],
              "failed connect to IPv4 127.0.0.1:" + std::to_string(port) + ": Connection refused (errno 111)");
}

// The far end of b echoes each MiB it reads before reading on, through small
// socket buffers: a's writes into b wait for it to read, while it waits for b's
// thread to read what it sends back. A child runs the relay, so that a stall
// fails the test instead of hanging it.
TEST_F(ProxyTest, BulkBothWaysThroughAnEchoingPeerDoesNotStall) {
    TestSupport::ChildProcess relay([] {
        const long kTotal = 8L << 20, kPiece = 1L << 20;
        const std::string data = TestSupport::randomBytes(kTotal, 1);
        Recorder seen;
        UDL::Proxy pa("server:tcpip:Port=0", &seen), pb("server:tcpip:Port=0", &seen);
        pa.partner(pb);
        auto client = call(pa), echo = call(pb);
        // Small buffers on every socket; accepted ones take their listener's.
        for (int fd = 3, size = 65536; fd < 1024; ++fd)
            for (int option : {SO_SNDBUF, SO_RCVBUF}) ::setsockopt(fd, SOL_SOCKET, option, &size, sizeof size);
        pa.start();
        pb.start();
        if (!seen.waitFor("opened", 2)) return 2;
        std::thread echoer([&] {
            for (long n = 0; n < kTotal; n += kPiece)
                echo->write(Base::String(TestSupport::readFor(*echo, kPiece, 5000)));
        });
        std::thread writer([&] { client->write(data.data(), kTotal); });
        const bool same = TestSupport::readFor(*client, kTotal, 9000) == data;
        writer.join();
        echoer.join();
        return same ? 0 : 1;
    });
    EXPECT_EQ(relay.wait(10000), 0);
}

}  // namespace
