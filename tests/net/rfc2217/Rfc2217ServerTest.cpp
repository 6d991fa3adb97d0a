// Rfc2217Server driven by pyserial's RFC 2217 client, with a pseudo-terminal behind it.
#include <varonet/net/rfc2217/Rfc2217Server.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include <varonet/base/PseudoTerminal.h>
#include <varonet/sim/VirtualSerialPair.h>
#include "support/Files.h"
#include "support/Process.h"
#include "support/ServedPort.h"
#include "support/TestCalls.h"

namespace {

// pyserial's RFC 2217 client (Debian's python3-serial) on two served ports:
// settings and data through the first, modem lines and DTR through the second.
const char kClient[] = R"(
import serial, sys
port = serial.serial_for_url(sys.argv[1], baudrate=115200, stopbits=2, timeout=5)
port.write(bytes(range(256)))
echoed = port.read(256) == bytes(range(256))
port.baudrate = 57600
port.close()
lines = serial.serial_for_url(sys.argv[2], timeout=5)
print(echoed, lines.cd, lines.dsr, lines.cts)
lines.dtr = False
lines.close()
)";

TEST(Rfc2217Server, PyserialChangesTheServedPortsSettingsAndLinesAndSeesItsModemLines) {
    TestSupport::TempDir temp;
    IO::PseudoTerminal pty;
    Sim::VirtualSerialPair::create("PYS1", "PYS2");
    auto farEnd = TestSupport::resolveAs<IO::SerialDevice>("serial:PYS2@9600");
    farEnd->open();
    TestSupport::ServedPort onPty("serial:" + pty.getSlavePath().str() + "@9600"), onPair("serial:PYS1@9600");
    const int out = ::open(temp.file("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    TestSupport::ChildProcess client(
        {"/usr/bin/python3", "-c", kClient, "rfc2217://127.0.0.1:" + std::to_string(onPty.port()),
         "rfc2217://127.0.0.1:" + std::to_string(onPair.port())},
        {.stdoutFd = out, .stderrPath = temp.file("err")});
    ::close(out);
    const std::string bytes = TestSupport::readFor(pty, 256, 10000);
    pty.write(bytes.data(), static_cast<long>(bytes.size()));  // the far end echoes
    ASSERT_EQ(client.wait(20000), 0) << TestSupport::readFile(temp.file("err"));
    EXPECT_EQ(TestSupport::readFile(temp.file("out")), "True True True True\n");
    termios tio{};
    ::tcgetattr(pty.getHandle(), &tio);
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B57600)) << "the baud rate the client chose last";
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(farEnd->readDCD()) << "the client dropped DTR";
    Sim::VirtualSerialPair::remove("PYS1");
}

}  // namespace
