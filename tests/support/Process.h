#pragma once
// ChildProcess: a peer program (python3, sz, rz, socat, ...) or a forked
// function, started by a test and always reaped.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace TestSupport {

class ChildProcess {
public:
    struct Options {
        std::string directory{};   ///< working folder; "" keeps the test's
        int stdinFd = -1;          ///< becomes the child's standard input (the caller keeps it)
        int stdoutFd = -1;         ///< becomes its standard output (the caller keeps it)
        std::string stderrPath{};  ///< its standard error goes to this file
    };

    /// Starts argv[0] (looked up on PATH when it holds no "/") with the other
    /// arguments. wait() gives -1 when the program cannot be found.
    explicit ChildProcess(const std::vector<std::string>& argv, const Options& options);
    explicit ChildProcess(const std::vector<std::string>& argv) : ChildProcess(argv, Options()) {}
    /// Runs body in a forked child that exits with body's result (99 when it
    /// throws) without running the parent's destructors.
    explicit ChildProcess(const std::function<int()>& body);
    /// Kills the child if it still runs, and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Waits up to ms for the end: the exit status (128 + the signal when a
    /// signal ended it), or -1 when it did not end in time (it is killed then).
    int wait(unsigned int ms);
    pid_t pid() const { return miPid; }
    /// CPU seconds (user + system, all threads) and peak resident memory (MiB)
    /// of the running child, from /proc: how benchmarks measure a peer.
    struct Usage {
        double cpu = 0;
        double peakMiB = 0;
    };
    Usage usage() const;
    void signal(int sig);

private:
    static constexpr int kNotStarted = -2;
    pid_t miPid = -1;
    int miStatus = kNotStarted;
};

}  // namespace TestSupport
