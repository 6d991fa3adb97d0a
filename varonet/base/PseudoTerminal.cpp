// Unix bodies for pseudo-terminals.
#include <varonet/base/PseudoTerminal.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>

#include <varonet/base/Errors.h>
#include <varonet/base/IOException.h>
#include <varonet/base/detail/FileInternal.h>

namespace IO {

namespace {
int openMaster() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) throwLastSystemError("posix_openpt");
    return master;
}
}  // namespace

PseudoTerminal::PseudoTerminal()
    : mpMaster(std::make_unique<FileInternal>(openMaster(), true)), mpSlave(std::make_unique<FileInternal>()) {
    const int master = mpMaster->getHandle();
    char path[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) throwLastSystemError("unlockpt");
    if (int error = ::ptsname_r(master, path, sizeof path)) checkSystemError(error, "ptsname");
    msSlavePath = path;
    mpSlave->openPath(msSlavePath, O_RDWR | O_NOCTTY);
    termios tio{};
    if (::tcgetattr(mpSlave->getHandle(), &tio) < 0) throwLastSystemError("tcgetattr " + msSlavePath);
    ::cfmakeraw(&tio);
    if (::tcsetattr(mpSlave->getHandle(), TCSANOW, &tio) < 0) throwLastSystemError("tcsetattr " + msSlavePath);
    mpMaster->setNonBlocking(true);
}

PseudoTerminal::~PseudoTerminal() { close(); }

bool PseudoTerminal::isOpen() { return mpMaster->isOpen(); }

int PseudoTerminal::getHandle() const { return mpMaster->getHandle(); }

void PseudoTerminal::open() {
    if (!isOpen()) throw Exception(ErrNotOpen, ".", __LINE__, "a closed pseudo-terminal cannot be opened again");
}

void PseudoTerminal::close() {
    mpSlave->close();
    mpMaster->close();
}

long PseudoTerminal::size() { return isOpen() ? mpMaster->available() : 0; }

bool PseudoTerminal::waitForData(unsigned int ms) { return isOpen() && mpMaster->waitReadable(ms) && size() > 0; }

long PseudoTerminal::readInternal(char* buffer, long length) {
    if (length <= 0 || !isOpen()) return 0;
    for (;;) {
        try {
            return mpMaster->read(buffer, length);
        } catch (const WouldBlockException&) {
            if (!mpMaster->waitReadable(~0u)) return 0;
        }
    }
}

long PseudoTerminal::write(const char* buffer, long length) {
    if (length <= 0) return 0;
    if (!isOpen()) throw Exception(ErrNotOpen, ".", __LINE__, "pseudo-terminal closed");
    return mpMaster->write(buffer, length);
}

}  // namespace IO
