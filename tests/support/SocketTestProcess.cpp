#include "support/SocketTestProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace SocketTest {

pid_t runChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
        }
        ::_exit(rc);
    }
    return pid;
}

int waitChild(pid_t pid, unsigned int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TempDirectory::TempDirectory() {
    char name[] = "/tmp/varonet-test-XXXXXX";
    if (::mkdtemp(name)) msPath = name;
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    if (!msPath.empty()) std::filesystem::remove_all(msPath, ignored);
}

}  // namespace SocketTest
