#include "support/SocketTestPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace SocketTest {

namespace {

bool hasProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    return false;
}

}  // namespace

std::string peerScript(const std::string& testSourceDir) { return testSourceDir + "/peers/SocketPeer.py"; }

PeerProcess::PeerProcess(const std::string& script, const std::vector<std::string>& args) {
    if (!hasProgram("python3")) {
        ADD_FAILURE() << "python3 is not on PATH: the socket tests need it as a foreign peer";
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    std::vector<std::string> argv = {"python3", "-u", script};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::execvp("python3", raw.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    miOutput = fds[0];
    miPid = pid;
}

PeerProcess::~PeerProcess() {
    if (miPid > 0) {
        ::kill(miPid, SIGKILL);
        int status;
        ::waitpid(miPid, &status, 0);
    }
    if (miOutput >= 0) ::close(miOutput);
}

std::string PeerProcess::readLine(unsigned int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto at = msBuffer.find('\n');
        if (at != std::string::npos) {
            std::string line = msBuffer.substr(0, at);
            msBuffer.erase(0, at + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (miOutput < 0 || left.count() <= 0) return "";
        pollfd p{miOutput, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
        char chunk[256];
        ssize_t n = ::read(miOutput, chunk, sizeof chunk);
        if (n <= 0) return "";
        msBuffer.append(chunk, static_cast<std::size_t>(n));
    }
}

unsigned int PeerProcess::waitReady(unsigned int ms) {
    std::string line = readLine(ms);
    if (line.rfind("READY ", 0) != 0) return 0;
    return static_cast<unsigned int>(std::stoul(line.substr(6)));
}

int PeerProcess::waitExit(unsigned int ms) {
    if (miPid <= 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(miPid, &status, WNOHANG);
        if (r == miPid) {
            miPid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;  // the destructor kills it
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace SocketTest
