#include "peers/ModemPty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace Peers {

namespace {
[[noreturn]] void failed(const char* what) { throw std::runtime_error(std::string(what) + ": " + std::strerror(errno)); }
}  // namespace

ModemPty::ModemPty() {
    miMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (miMaster < 0) failed("posix_openpt");
    if (::grantpt(miMaster) != 0 || ::unlockpt(miMaster) != 0) failed("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(miMaster, name, sizeof name) != 0) failed("ptsname_r");
    msSlavePath = name;
    miSlave = ::open(name, O_RDWR | O_NOCTTY);
    if (miSlave < 0) failed("open pty slave");
    termios tio{};
    if (::tcgetattr(miSlave, &tio) != 0) failed("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(miSlave, TCSANOW, &tio) != 0) failed("tcsetattr");
}

ModemPty::~ModemPty() {
    if (miMaster >= 0) ::close(miMaster);
    if (miSlave >= 0) ::close(miSlave);
}

int ModemPty::takeMaster() {
    int fd = miMaster;
    miMaster = -1;
    return fd;
}

}  // namespace Peers
