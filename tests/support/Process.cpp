// Child processes for tests: peer programs or forked functions, signalled and always reaped.
#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "support/Files.h"

namespace TestSupport {

namespace {
int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }
}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options) {
    std::string program = argv.empty() ? "" : argv[0];
    if (program.find('/') == std::string::npos) program = findProgram(program);
    if (program.empty()) return;
    std::vector<std::string> args = argv;
    std::vector<char*> raw;
    for (auto& a : args) raw.push_back(a.data());
    raw.push_back(nullptr);
    int err = options.stderrPath.empty()
                  ? -1
                  : ::open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    miPid = ::fork();
    if (miPid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) ::_exit(126);
        if (options.stdinFd >= 0) ::dup2(options.stdinFd, 0);
        if (options.stdoutFd >= 0) ::dup2(options.stdoutFd, 1);
        if (err >= 0) ::dup2(err, 2);
        ::execv(program.c_str(), raw.data());
        ::_exit(127);
    }
    if (err >= 0) ::close(err);
}

ChildProcess::Usage ChildProcess::usage() const {
    Usage usage;
    std::ifstream stat("/proc/" + std::to_string(miPid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name (which may hold spaces) start after the last ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stoull(field);
    usage.cpu = static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(miPid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) usage.peakMiB = std::stod(line.substr(6)) / 1024.0;
    return usage;
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
    miPid = ::fork();
    if (miPid == 0) {
        int rc = 99;
        try {
            rc = body();
        } catch (...) {}
        ::_exit(rc);
    }
}

ChildProcess::~ChildProcess() {
    if (miPid > 0) {
        ::kill(miPid, SIGKILL);
        int raw = 0;
        ::waitpid(miPid, &raw, 0);
    }
}

int ChildProcess::wait(unsigned int ms) {
    if (miPid <= 0) return miStatus == kNotStarted ? -1 : miStatus;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int raw = 0;
        if (::waitpid(miPid, &raw, WNOHANG) == miPid) {
            miPid = -1;
            miStatus = statusOf(raw);
            return miStatus;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(miPid, SIGKILL);
            ::waitpid(miPid, &raw, 0);
            miPid = -1;
            miStatus = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // polling a child's exit
    }
}

void ChildProcess::signal(int sig) {
    if (miPid > 0) ::kill(miPid, sig);
}

}  // namespace TestSupport
