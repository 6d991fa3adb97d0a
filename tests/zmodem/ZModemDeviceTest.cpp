// The ZMODEM device: message boundaries both ways, a damaged subpacket sent again, and a failed send.
#include <varonet/zmodem/ZModemDevice.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include <varonet/zmodem/ZModemErrors.h>

#include "support/Files.h"
#include "support/ScriptedDevice.h"
#include "support/TestCalls.h"
#include "zmodem/ZModemTestKit.h"

using ZModem::ZModemDevice;

namespace {

// Reads one whole message: a read larger than any message takes all of it.
std::string readMessage(ZModemDevice& device) {
    std::vector<char> buffer(256 * 1024);
    long n = device.read(buffer.data(), static_cast<long>(buffer.size()));
    return std::string(buffer.data(), static_cast<std::size_t>(n > 0 ? n : 0));
}

// Two devices joined by a socket pair.
class ZModemDeviceTest : public ::testing::Test {
protected:
    TestSupport::SocketPair pair;
    TestSupport::ScriptedDescriptor lineA{pair.take(0)};
    TestSupport::ScriptedDescriptor lineB{pair.take(1)};
    ZModemDevice a{&lineA};
    ZModemDevice b{&lineB};
};

// Messages keep their boundaries both ways; a message is drained by small reads.
TEST_F(ZModemDeviceTest, MessagesKeepTheirBoundariesBothWays) {
    EXPECT_EQ(0, b.size());
    EXPECT_TRUE(b.isEOF());
    EXPECT_FALSE(b.waitForData(0));
    const std::vector<std::string> messages = {"hello", std::string(1024, 'x'), TestSupport::randomBytes(1025, 1),
                                               TestSupport::randomBytes(100 * 1024, 2), std::string(3000, '\x18')};
    std::vector<std::string> atB, atA;
    std::thread peer([&] {
        for (std::size_t i = 0; i < messages.size(); ++i) atB.push_back(readMessage(b));
        for (const auto& m : messages) b.write(m.data(), static_cast<long>(m.size()));
    });
    for (const auto& m : messages)
        EXPECT_EQ(static_cast<long>(m.size()), a.write(m.data(), static_cast<long>(m.size())));
    for (std::size_t i = 0; i < messages.size(); ++i) atA.push_back(readMessage(a));
    peer.join();
    EXPECT_EQ(messages, atB);
    EXPECT_EQ(messages, atA);
    std::thread writer([&] { a.write("0123456789", 10); });
    char buffer[4];
    EXPECT_EQ(4, b.read(buffer, 4));
    writer.join();
    EXPECT_EQ(6, b.size());
    EXPECT_EQ(4, b.read(buffer, 4));
    EXPECT_EQ(2, b.read(buffer, 4));
    EXPECT_EQ("89", std::string(buffer, 2));
}

TEST_F(ZModemDeviceTest, ADamagedSubpacketIsSentAgainAndTheMessageArrivesWhole) {
    lineA.countWritesFrom(1000);
    lineA.flipOutboundBit(1, 500);  // the second subpacket loses a bit
    const std::string message = TestSupport::randomBytes(5000, 3);
    ZModemTestKit::DebugLines lines;
    std::string got;
    std::thread reader([&] { got = readMessage(b); });
    EXPECT_EQ(5000, a.write(message.data(), 5000));
    reader.join();
    EXPECT_TRUE(message == got) << got.size();
    EXPECT_EQ(1, lines.count("ZRPOS newpos: 1024\n"));
}

TEST(ZModemDeviceAlone, AFailedSendThrows1571) {
    TestSupport::SocketPair pair;
    TestSupport::ScriptedDescriptor line(pair.take(0));
    ::close(pair.take(1));  // nobody at the other end: the first write fails
    ZModemDevice device(&line);
    EXPECT_EQ(ZModem::ZModemErrors::ErrDeviceSession, TestSupport::codeOf([&] { device.write("x", 1); }));
}

}  // namespace
