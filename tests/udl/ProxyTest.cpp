#include <varonet/udl/Proxy.h>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <varonet/base/Exception.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/VirtualSerialPair.h>

namespace {

using TestSupport::readFor;

// Records what the relay reports.
class RecordingDumper : public UDL::ProxyDumper {
public:
    void opened(const Base::String& self, const Base::String&) override {
        std::lock_guard<std::mutex> guard(mMutex);
        ++openedCount[self.str()];
    }
    void dump(const Base::String& self, const Base::String& other, const Base::ByteArray& data) override {
        std::lock_guard<std::mutex> guard(mMutex);
        chunks.push_back(self.str() + ">" + other.str() + ":" + data.toString().str());
    }
    void closed(const Base::String& self, const Base::String&) override {
        std::lock_guard<std::mutex> guard(mMutex);
        ++closedCount[self.str()];
    }
    /// Waits (bounded) until the side has reported itself open.
    bool waitOpened(const std::string& self, int times = 1, unsigned int ms = 3000) {
        OS::StopWatch watch;
        while (watch.getElapsed() < ms) {
            {
                std::lock_guard<std::mutex> guard(mMutex);
                if (openedCount[self] >= times) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    std::mutex& mutex() { return mMutex; }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> guard(mMutex);
        return chunks;
    }

    std::map<std::string, int> openedCount, closedCount;
    std::vector<std::string> chunks;

private:
    std::mutex mMutex;
};

// Two virtual cables: the test holds the far ends, the proxies the near ones.
struct Cables {
    Cables() {
        IO::VirtualSerialPair::create("PXA", "PXA-far");
        IO::VirtualSerialPair::create("PXB", "PXB-far");
        farA.open();
        farB.open();
    }
    ~Cables() {
        IO::VirtualSerialPair::remove("PXA");
        IO::VirtualSerialPair::remove("PXB");
    }
    IO::SerialDevice farA{"PXA-far", IO::SerialDevice::Baud9600};
    IO::SerialDevice farB{"PXB-far", IO::SerialDevice::Baud9600};
};

TEST(Proxy, PartnersRelayBothWaysAndReportEveryChunk) {
    Cables cables;
    RecordingDumper dumper;
    {
        UDL::Proxy a("serial:PXA@9600", &dumper), b("serial:PXB@9600", &dumper);
        a.partner(b);
        a.start();
        b.start();
        ASSERT_TRUE(dumper.waitOpened("serial:PXA@9600"));
        ASSERT_TRUE(dumper.waitOpened("serial:PXB@9600"));
        cables.farA.write(Base::String("to B"));
        EXPECT_EQ(readFor(cables.farB, 4, 3000), "to B");
        cables.farB.write(Base::String("to A"));
        EXPECT_EQ(readFor(cables.farA, 4, 3000), "to A");
    }  // deleting the proxies ends the relay
    auto chunks = dumper.snapshot();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], "serial:PXA@9600>serial:PXB@9600:to B");
    EXPECT_EQ(chunks[1], "serial:PXB@9600>serial:PXA@9600:to A");
    EXPECT_GE(dumper.openedCount["serial:PXA@9600"], 1);
    EXPECT_EQ(dumper.closedCount.size(), 0u);
}

TEST(Proxy, DeletingARunningRelayReturnsWithinAboutASecond) {
    Cables cables;
    RecordingDumper dumper;
    OS::StopWatch watch;
    {
        UDL::Proxy a("serial:PXA@9600", &dumper), b("serial:PXB@9600", &dumper);
        a.partner(b);
        a.start();
        b.start();
        ASSERT_TRUE(dumper.waitOpened("serial:PXA@9600"));
        ASSERT_TRUE(dumper.waitOpened("serial:PXB@9600"));
        watch.start();
    }
    EXPECT_LT(watch.getElapsed(), 1000u);
}

TEST(Proxy, OneWayRelayAndCheck) {
    Cables cables;
    RecordingDumper dumper;
    UDL::Proxy a("serial:PXA@9600", &dumper), b("serial:PXB@9600", nullptr);
    a.receiver(b);
    b.getDevice()->open();
    b.start();  // b has no receiver: its thread ends at once with code 0
    b.join();
    ASSERT_TRUE(b.getFailure());
    try {
        std::rethrow_exception(b.getFailure());
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), 0u);
    }
    a.start();
    ASSERT_TRUE(dumper.waitOpened("serial:PXA@9600"));
    cables.farA.write(Base::String("one way"));
    EXPECT_EQ(readFor(cables.farB, 7, 3000), "one way");
    cables.farB.write(Base::String("back"));
    EXPECT_EQ(readFor(cables.farA, 4, 200), "");  // nothing relays back
}

TEST(Proxy, LocatorWithoutDeviceThrowsCodeZero) {
    try {
        UDL::Proxy p("none:", nullptr);
        FAIL() << "constructed";
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), 0u);
    }
    EXPECT_THROW(UDL::Proxy("nonsense", nullptr), Base::Exception);
}

TEST(Proxy, CopiesShareOneSide) {
    Cables cables;
    UDL::Proxy a("serial:PXA@9600", nullptr);
    UDL::Proxy copy(a);
    EXPECT_EQ(copy.getDevice(), a.getDevice());
    UDL::Proxy other("serial:PXB@9600", nullptr);
    other = a;
    EXPECT_EQ(other.getDevice(), a.getDevice());
    other = *&other;  // a self-assignment keeps the shared side
    EXPECT_EQ(other.getDevice(), a.getDevice());
}

TEST(Proxy, DataForAClosedReceiverIsDropped) {
    Cables cables;
    RecordingDumper dumper;
    UDL::Proxy a("serial:PXA@9600", &dumper), b("serial:PXB@9600", nullptr);
    a.receiver(b);  // b's device is not open yet and b has no thread of its own
    a.start();
    ASSERT_TRUE(dumper.waitOpened("serial:PXA@9600"));
    cables.farA.write(Base::String("lost"));
    for (int i = 0; i < 300 && dumper.snapshot().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(dumper.snapshot().size(), 1u);  // relayed into a closed device
    b.getDevice()->open();
    EXPECT_EQ(readFor(cables.farB, 4, 200), "");
    cables.farA.write(Base::String("kept"));
    EXPECT_EQ(readFor(cables.farB, 4, 3000), "kept");
}

}  // namespace

#include <varonet/net/socket/TcpIp4Server.h>

namespace {

TEST(Proxy, ReconnectsWhenTheTcpPeerGoesAwayAndReportsEachClose) {
    IO::VirtualSerialPair::create("PXT", "PXT-far");
    IO::SerialDevice far("PXT-far", IO::SerialDevice::Baud9600);
    far.open();
    Net::TcpIp4Server server(0);
    const std::string tcp = "tcpip:127.0.0.1@" + std::to_string(server.getLocalPort());
    RecordingDumper dumper;
    {
        UDL::Proxy network(tcp, &dumper), line("serial:PXT@9600", &dumper);
        network.partner(line);
        network.start();
        line.start();
        ASSERT_TRUE(server.waitForConnection(3000));
        std::unique_ptr<IO::Device> first(server.accept());
        ASSERT_TRUE(dumper.waitOpened(tcp));
        ASSERT_TRUE(dumper.waitOpened("serial:PXT@9600"));
        first->write(Base::String("from the net"));
        EXPECT_EQ(readFor(far, 12, 3000), "from the net");

        first->close();  // the peer goes away: the proxy reports it and connects again
        ASSERT_TRUE(server.waitForConnection(5000));
        std::unique_ptr<IO::Device> second(server.accept());
        far.write(Base::String("from the line"));
        EXPECT_EQ(readFor(*second, 13, 3000), "from the line");
        EXPECT_TRUE(dumper.waitOpened(tcp, 2));
        std::lock_guard<std::mutex> guard(dumper.mutex());
        EXPECT_EQ(dumper.closedCount[tcp], 1);
    }
    IO::VirtualSerialPair::remove("PXT");
}

TEST(Proxy, StoppingWakesAServerDeviceThatWaitsForItsCaller) {
    IO::VirtualSerialPair::create("PXW", "PXW-far");
    OS::StopWatch watch;
    {
        UDL::Proxy waiting("server:tcpip:Port=0", nullptr), line("serial:PXW@9600", nullptr);
        waiting.partner(line);
        waiting.start();
        line.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it block in its accept
        watch.start();
    }
    EXPECT_LT(watch.getElapsed(), 2000u);
    IO::VirtualSerialPair::remove("PXW");
}

}  // namespace
