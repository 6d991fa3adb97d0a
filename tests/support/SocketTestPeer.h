#pragma once
// A peer process for socket tests (Python's socket module running
// tests/peers/SocketPeer.py), started and stopped by the test.

#include <string>
#include <vector>

#include <sys/types.h>

namespace SocketTest {

class PeerProcess {
public:
    /// Starts python3 with script and args; its standard output is read by readLine.
    /// Fails the calling test (ADD_FAILURE) when python3 is not on PATH.
    PeerProcess(const std::string& script, const std::vector<std::string>& args);
    /// Kills the peer if it still runs and reaps it.
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool isStarted() const { return miPid > 0; }
    /// The next line of output (without newline); "" when none came within ms.
    std::string readLine(unsigned int ms);
    /// Waits up to ms for the first line "READY <port>"; returns port or 0.
    unsigned int waitReady(unsigned int ms);
    /// Waits up to ms for the exit; the exit code, or -1 (then it is killed).
    int waitExit(unsigned int ms);

private:
    pid_t miPid = -1;
    int miOutput = -1;
    std::string msBuffer;
};

/// The peer script in the source tree.
std::string peerScript(const std::string& testSourceDir);

}  // namespace SocketTest
