#pragma once
// A pseudo-terminal: the master side as a raw descriptor, the slave side as a
// path that a serial locator can open (through a port alias).

#include <string>

namespace TestSupport {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return miMaster; }
    const std::string& slavePath() const { return msSlave; }
    /// Writes all bytes to the master side.
    void write(const std::string& bytes);
    /// Reads until count bytes have come or ms milliseconds have passed.
    std::string read(std::size_t count, unsigned int ms);

private:
    int miMaster = -1;
    int miSlaveHold = -1;  // keeps the slave side alive between opens
    std::string msSlave;
};

}  // namespace TestSupport
