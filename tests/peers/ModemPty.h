#pragma once
// Peers::ModemPty: a pty for modem tests. The slave side is put in raw mode
// and held open for the pty's life (so the master never sees a hang-up while
// the device under test closes and reopens the slave); the master goes to a
// Peers::ModemSimulator.

#include <string>

namespace Peers {

class ModemPty {
public:
    /// Throws std::runtime_error when no pty can be had.
    ModemPty();
    ~ModemPty();
    ModemPty(const ModemPty&) = delete;
    ModemPty& operator=(const ModemPty&) = delete;

    /// Hands the master descriptor over (the caller closes it); -1 after the first call.
    int takeMaster();
    /// The slave's path, e.g. /dev/pts/7.
    const std::string& getSlavePath() const { return msSlavePath; }

private:
    int miMaster = -1;
    int miSlave = -1;
    std::string msSlavePath;
};

}  // namespace Peers
