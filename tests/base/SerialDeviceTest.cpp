// Serial ports on real pseudo-terminals: names, exclusive opening, settings, time-outs, and the virtual pair.
#include <varonet/base/SerialDevice.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/base/PseudoTerminal.h>
#include <varonet/base/StopWatch.h>
#include <varonet/sim/VirtualSerialPair.h>

#include "support/Files.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;
using TestSupport::readFor;

// A new pseudo-terminal and a port on its slave side, named by path as an application names it.
struct PtyPort {
    IO::PseudoTerminal pty;
    std::unique_ptr<IO::SerialDevice> port =
        TestSupport::resolveAs<IO::SerialDevice>("serial:" + pty.getSlavePath() + "@115k");
    termios settings() {
        termios tio{};
        ::tcgetattr(pty.getHandle(), &tio);  // the master reports the slave's settings
        return tio;
    }
};

}  // namespace

TEST(SerialDevice, PortNamesMapToDevicePaths) {
    for (const auto& [name, path] : {std::pair{"COM1", "/dev/ttyS0"}, std::pair{"com12", "/dev/ttyS11"},
                                     std::pair{"ttyUSB0", "/dev/ttyUSB0"}, std::pair{"x/y", "x/y"}})
        EXPECT_EQ(IO::SerialDevice::mapPortName(name).str(), path);
    EXPECT_EQ(IO::SerialDevice(4, IO::SerialDevice::Baud9600).getPath().str(), "/dev/ttyS3");
    IO::SerialDevice::setPortAlias("COM1", "/tmp/somewhere");
    IO::SerialDevice::setPortAlias("7", "/tmp/seven");
    EXPECT_EQ(IO::SerialDevice(1, IO::SerialDevice::Baud9600).getPath().str(), "/tmp/somewhere");
    EXPECT_EQ(IO::SerialDevice(7, IO::SerialDevice::Baud9600).getPath().str(), "/tmp/seven");
    IO::SerialDevice::removePortAlias("COM1");
    IO::SerialDevice::removePortAlias("7");
    EXPECT_EQ(IO::SerialDevice::mapPortName("COM1").str(), "/dev/ttyS0");
    for (const char* path : {"/dev/null", "/x/y/COM4"}) EXPECT_TRUE(IO::SerialDevice::isDevicePath(path)) << path;
    for (const char* name : {"dev/null", "x/COM2"}) EXPECT_FALSE(IO::SerialDevice::isDevicePath(name)) << name;
}

TEST(SerialDevice, PtyOpenedByPathCarriesBytesAndIsHeldExclusively) {
    PtyPort p;
    ASSERT_TRUE(p.port);
    EXPECT_EQ(p.port->getName(), p.pty.getSlavePath());
    p.port->open();
    EXPECT_FALSE(p.port->hasModemLines()) << "a pty has none: lines read low, DTR is ignored";
    EXPECT_FALSE(p.port->readDCD());
    p.port->toggleDTR(false);
    const std::string outbound = TestSupport::randomBytes(3000, 1);
    p.port->write(outbound.data(), static_cast<long>(outbound.size()));
    p.port->flush();
    EXPECT_EQ(readFor(p.pty, outbound.size(), 3000), outbound);
    p.pty.write(Base::String("answer\r\n"));
    EXPECT_EQ(readFor(*p.port, 8, 3000), "answer\r\n");
    auto second = TestSupport::resolveAs<IO::SerialDevice>("serial:" + p.pty.getSlavePath() + "@9600");
    EXPECT_EQ(codeOf([&] { second->open(); }), Base::ErrPortInUse) << "a second user is refused";
    p.port->close();
    second->open();
    second->close();
    // Another program holding the port the way serial tools do (flock) keeps us out too: the lock
    // belongs to an open file, so an open of our own stands for that program.
    const int holder = ::open(p.pty.getSlavePath().str().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_EQ(codeOf([&] { p.port->open(); }), Base::ErrPortInUse);
    ::close(holder);
    p.port->open();
    EXPECT_TRUE(p.port->isOpen());
}

TEST(SerialDevice, BaudRatesAndFlowControlReachTheTerminal) {
    const speed_t speeds[] = {B110,   B300,   B1200,   B2400,   B4800,   B9600,  B19200,
                              B38400, B57600, B115200, B230400, B460800, B921600};
    PtyPort p;
    p.port->setBaudrate(IO::SerialDevice::Baud2400);  // settings made while closed apply on open
    p.port->setFlowControl(IO::SerialDevice::FlowHardware);
    p.port->open();
    termios tio = p.settings();
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B2400));
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_lflag & (ECHO | ICANON)) << "raw mode";
    for (int rate = 0; rate <= IO::SerialDevice::Baud921600; ++rate) {
        p.port->setBaudrate(static_cast<IO::SerialDevice::EBaudRate>(rate));
        tio = p.settings();
        EXPECT_EQ(::cfgetospeed(&tio), speeds[rate]) << rate;
        EXPECT_EQ(::cfgetispeed(&tio), speeds[rate]) << rate;
    }
    EXPECT_EQ(codeOf([&] { p.port->setBaudrate(static_cast<IO::SerialDevice::EBaudRate>(13)); }), Base::ErrBadArgument);
    p.port->setFlowControl(IO::SerialDevice::FlowSoftware);
    tio = p.settings();
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    p.port->setFlowControl(IO::SerialDevice::FlowNone);
    tio = p.settings();
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
}

TEST(SerialDevice, ReadTimeOutNonBlockingReadAndTheFarSideGoing) {
    PtyPort p;
    p.port->open();
    p.port->setTimeout(60);
    p.pty.write(Base::String("ab"));
    char buffer[8];
    OS::StopWatch watch;
    EXPECT_EQ(p.port->read(buffer, 8), 2) << "short count: the time-out was reached";
    EXPECT_GE(watch.getElapsed(), 50u);
    p.port->setBlocking(false);
    EXPECT_THROW(p.port->readInternal(buffer, 8), IO::WouldBlockException);
    p.port->setBlocking(true);
    p.pty.close();
    EXPECT_TRUE(p.port->waitForData(1000)) << "the hang-up wakes a waiting reader";
    EXPECT_EQ(p.port->readInternal(buffer, 8), 0) << "and reads as the end";
    for (const auto& [path, error] :
         {std::pair{"/nonexistent/ttyX", unsigned(ENOENT)}, std::pair{"/dev/null", unsigned(ENOTTY)},
          std::pair{"", unsigned(Base::ErrNoSuchPort)}, std::pair{"/dev/", unsigned(Base::ErrNoSuchPort)}}) {
        IO::SerialDevice port(path, IO::SerialDevice::Baud9600);
        EXPECT_EQ(codeOf([&] { port.open(); }), error) << "the error for '" << path << "'";
        EXPECT_EQ(codeOf([&] { port.size(); }), Base::ErrNotOpen);
    }
}

TEST(VirtualSerialPair, WiredLikeANullModemCable) {
    Sim::VirtualSerialPair::create("VNULL1", "VNULL2");
    auto a = TestSupport::resolveAs<IO::SerialDevice>("serial:VNULL1@115k");
    auto b = TestSupport::resolveAs<IO::SerialDevice>("serial:VNULL2@115k:FlowControl=Hardware");
    const auto raised = [&] {  // the lines a reads high, by name
        return std::string(a->readDCD() ? "DCD " : "") + (a->readDSR() ? "DSR " : "") + (a->readCTS() ? "CTS" : "");
    };
    a->open();
    EXPECT_FALSE(a->readDCD()) << "nobody at the other end yet";
    b->open();
    EXPECT_TRUE(a->hasModemLines());
    EXPECT_EQ(raised(), "DCD DSR CTS");
    b->toggleDTR(false);
    EXPECT_EQ(raised(), "CTS") << "the other end dropped DTR";
    b->setRTS(false);
    b->toggleDTR(true);
    EXPECT_EQ(raised(), "DCD DSR ") << "the other end dropped RTS";
    b->close();  // closing drops DTR: the other end loses its carrier
    EXPECT_FALSE(a->readDCD());
    a->write(Base::String("lost"));  // nobody listens: dropped
    b->open();
    EXPECT_FALSE(b->waitForData(0));
    EXPECT_EQ(codeOf([] { IO::SerialDevice("VNULL1", IO::SerialDevice::Baud9600).open(); }), Base::ErrPortInUse);
    Sim::VirtualSerialPair::remove("VNULL1");
    EXPECT_FALSE(Sim::VirtualSerialPair::exists("VNULL2"));
}
