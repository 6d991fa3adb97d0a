// Rfc2217Port against ser2net and our own server: settings, lines, break and refusals.
#include <varonet/net/rfc2217/Rfc2217Port.h>

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <varonet/base/Errors.h>
#include <varonet/base/PseudoTerminal.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/TcpServer.h>
#include <varonet/sim/VirtualSerialPair.h>
#include "support/Files.h"
#include "support/RecordingLogger.h"
#include "support/Ser2net.h"
#include "support/ServedPort.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;
using TestSupport::readFor;

const std::string kAllBytes = [] {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}();

// True once condition holds, asked every 10 ms for at most 5 s (modem lines are reported as they change).
bool eventually(const std::function<bool()>& condition) {
    OS::StopWatch watch;
    while (!condition() && watch.getElapsed() < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

std::unique_ptr<IO::SerialDevice> remote(unsigned int port, const std::string& options, Log::Logger* logger) {
    return TestSupport::resolveAs<IO::SerialDevice>("rfc2217:127.0.0.1@" + std::to_string(port) + options, logger);
}

class Rfc2217PortTest : public ::testing::Test {
protected:
    termios settings() {
        termios tio{};
        ::tcgetattr(mPty.getHandle(), &tio);  // the master reports the slave's settings
        return tio;
    }
    speed_t speed() {
        termios tio = settings();
        return ::cfgetospeed(&tio);
    }
    std::string logged(unsigned int port, const std::string& text) {
        return "?5124:RFC 2217 127.0.0.1:" + std::to_string(port) + ": " + text;
    }

    TestSupport::TempDir mTemp;
    IO::PseudoTerminal mPty;
    TestSupport::RecordingLogger mLog;
};

TEST_F(Rfc2217PortTest, Ser2netServesThePtyWithTheSettingsAtOpenAndLater) {
    TestSupport::Ser2net ser2net(mPty.getSlavePath().str(), mTemp.path());
    ASSERT_NE(ser2net.port(), 0u) << "ser2net did not listen: " << TestSupport::readFile(mTemp.file("ser2net.log"));
    auto port = remote(ser2net.port(), ":baudrate=115200,StopBits=2,ReplyTimeout=300", &mLog);
    port->open();
    EXPECT_EQ(speed(), speed_t(B115200));
    EXPECT_TRUE(settings().c_cflag & CSTOPB);
    port->setBaudrate(IO::SerialDevice::Baud57600);
    EXPECT_EQ(speed(), speed_t(B57600));
    port->write(kAllBytes.data(), 256);
    EXPECT_EQ(readFor(mPty, 256, 5000), kAllBytes) << "255 goes out escaped and arrives once";
    mPty.write(kAllBytes.data(), 256);
    EXPECT_EQ(readFor(*port, 256, 5000), kAllBytes);
    EXPECT_TRUE(port->hasModemLines());
    EXPECT_FALSE(port->readDCD()) << "a pty has no lines: ser2net reports them low";
    // ser2net cannot set DTR on a pty and leaves the command unanswered: the log says so, the port goes on.
    EXPECT_TRUE(mLog.contains(logged(ser2net.port(), "the server did not answer DTR on within 300 ms")));
    EXPECT_EQ(port->getName(), "127.0.0.1:" + std::to_string(ser2net.port()));
    port->close();  // a new connection negotiates afresh, and its settings arrive as the first ones did
    port->open();
    port->setBaudrate(IO::SerialDevice::Baud19200);
    EXPECT_EQ(speed(), speed_t(B19200));
    mPty.write(Base::String("!"));
    EXPECT_EQ(readFor(*port, 1, 5000), "!") << "one byte is data enough to wait for";
}

TEST_F(Rfc2217PortTest, OurServerAppliesEverySettingToThePortAndReportsItsLines) {
    Sim::VirtualSerialPair::create("RFC1", "RFC2");
    auto farEnd = TestSupport::resolveAs<IO::SerialDevice>("serial:RFC2@9600");
    farEnd->open();
    TestSupport::ServedPort served("serial:RFC1@9600");
    auto port =
        remote(served.port(), ":baudrate=19200,DataBits=5,Parity=Mark,StopBits=1.5,FlowControl=Hardware", &mLog);
    port->open();
    served.onPort([](IO::SerialDevice& p) {
        EXPECT_EQ(p.getBitRate(), 19200u);
        EXPECT_EQ(p.getFormat(),
                  (IO::SerialPort::Format{5, IO::SerialPort::ParityMark, IO::SerialPort::StopOneAndHalf}));
        EXPECT_EQ(p.getFlowControl(), IO::SerialDevice::FlowHardware);
    });
    EXPECT_TRUE(eventually([&] { return port->readDCD(); })) << "the far end's DTR, reported as it came";
    EXPECT_TRUE(port->readDSR());
    farEnd->toggleDTR(false);
    EXPECT_TRUE(eventually([&] { return !port->readDCD(); }));
    port->toggleDTR(false);  // answered once the port has it
    EXPECT_FALSE(farEnd->readDCD());
    port->setRTS(false);
    EXPECT_FALSE(farEnd->readCTS());
    EXPECT_FALSE(port->sendBreak(5)) << "a virtual port has no break: the server says so";
    port->setStopBits(IO::SerialPort::StopOne);
    served.onPort([](IO::SerialDevice& p) { EXPECT_EQ(p.getFormat().stopBits, IO::SerialPort::StopOne); });
    farEnd->write(Base::String("read stale"));
    EXPECT_EQ(readFor(*port, 5, 5000), "read ");
    EXPECT_TRUE(eventually([&] { return port->size() == 5; }));
    port->purge(true, false);  // what came and was not read is dropped, here and at the served port
    EXPECT_EQ(port->size(), 0);
    port->write(kAllBytes.data(), 256);
    EXPECT_EQ(readFor(*farEnd, 256, 5000), kAllBytes);
    farEnd->write(kAllBytes.data(), 256);
    EXPECT_EQ(readFor(*port, 256, 5000), kAllBytes);
    Sim::VirtualSerialPair::remove("RFC1");
}

TEST_F(Rfc2217PortTest, APortThatRefusesASettingGivesAClearErrorAndTheLogTellsWhy) {
    TestSupport::ServedPort served("serial:" + mPty.getSlavePath().str() + "@9600");
    auto port = remote(served.port(), ":BitRate=250000", &mLog);
    port->open();
    EXPECT_EQ(codeOf([&] { port->setDataBits(7); }), Base::ErrBadArgument) << "a pty stays 8 bits";
    EXPECT_EQ(port->getFormat().dataBits, 8u);
    EXPECT_TRUE(mLog.contains(logged(served.port(), "the server refused 7 data bits (it answered 8)")));
    served.onPort([](IO::SerialDevice& p) { EXPECT_EQ(p.getBitRate(), 250000u); });
}

// A server that answers port control with garbage, a subnegotiation that never
// ends, an option nobody knows, and no answer to any setting: the port opens
// after its reply time-outs, says so, and the data behind the garbage arrives.
TEST_F(Rfc2217PortTest, AServerThatSpeaksGarbageCostsOnlyTheReplyTimeOut) {
    Net::TcpServer server(0, "127.0.0.1");
    auto port = remote(server.getLocalPort(), ":baudrate=9600,ReplyTimeout=100", &mLog);
    auto opened = std::async(std::launch::async, [&] { port->open(); });
    ASSERT_TRUE(server.waitForConnection(5000));
    std::unique_ptr<IO::Device> caller(server.acceptInternal());
    caller->write(
        Base::String("\xff\xfd,\xff\xfa,e\x00\x00\xff\xfe\xc8\xff\xfa,\xc8\x01\xff\xf0"
                     "data\xff\xff",
                     25));
    ASSERT_EQ(opened.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    opened.get();
    EXPECT_EQ(readFor(*port, 5, 5000), "data\xff");
    EXPECT_TRUE(
        mLog.contains(logged(server.getLocalPort(), "the server did not answer the speed 9600 bit/s within 100 ms")));
    EXPECT_EQ(readFor(*caller, 9, 5000), std::string("\xff\xfb\0\xff\xfd\0\xff\xfb,", 9))
        << "it asked for binary data both ways and for port control";
    auto waiting = TestSupport::startBlocked([&] { return long(port->waitForData(60000)); });
    port->wakeUp();  // from another thread: the wait ends at once
    EXPECT_EQ(waiting.get(), 0);
    caller->close();
    EXPECT_TRUE(eventually([&] { return !port->isOpen(); })) << "the server has gone: a relay opens it again";
}

}  // namespace
