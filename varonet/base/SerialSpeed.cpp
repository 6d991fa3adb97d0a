// Custom serial speeds through termios2. Kept alone because <asm/termbits.h>
// clashes with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace IO {

bool setTermiosCustomSpeed(int fd, unsigned int bitsPerSecond) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) < 0) return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = bitsPerSecond;
    tio.c_ospeed = bitsPerSecond;
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace IO
