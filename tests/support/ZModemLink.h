#pragma once
// Test helpers for the ZMODEM tests and benchmarks (header-only so that the
// benchmarks can use them too):
//   ZModemSocketDevice  an IO::Device over one end of a socket pair, which can
//                       corrupt one byte of a chosen write and report writes;
//   ZModemSocketPair    two connected AF_UNIX stream sockets;
//   ZModemPeerProcess   a peer program (sz / rz) whose stdin and stdout are
//                       one socket end, started in a directory and always reaped;
//   ZModemTempDir       a fresh directory, removed with its files;
//   zmodemFindProgram   a program on PATH, or "" when missing.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <varonet/base/Device.h>
#include <varonet/base/FileInternal.h>

/// A scripted device: hands out its input in chunks of a chosen size (so the
/// decoders meet every split), never waits, and records each write whole.
class ZModemScriptDevice : public IO::Device {
public:
    explicit ZModemScriptDevice(std::string input = "", std::size_t chunk = 1 << 20)
        : msInput(std::move(input)), muChunk(chunk) {}
    bool isOpen() override { return true; }
    void open() override {}
    void close() override {}
    Base::String getName() override { return "script"; }
    long size() override {
        std::size_t left = msInput.size() - muPos;
        return static_cast<long>(left < muChunk ? left : muChunk);
    }
    bool isEOF() override { return false; }
    bool waitForData(unsigned int) override { return size() > 0; }
    long readInternal(char* buffer, long length) override {
        long n = std::min(length, size());
        std::memcpy(buffer, msInput.data() + muPos, static_cast<std::size_t>(n));
        muPos += static_cast<std::size_t>(n);
        return n;
    }
    long write(const char* buffer, long length) override {
        mWrites.emplace_back(buffer, static_cast<std::size_t>(length));
        return length;
    }
    using IO::OutputDevice::write;
    const std::vector<std::string>& writes() const { return mWrites; }
    std::string written() const {
        std::string all;
        for (auto& w : mWrites) all += w;
        return all;
    }
    void clearWrites() { mWrites.clear(); }

private:
    std::string msInput;
    std::size_t muChunk;
    std::size_t muPos = 0;
    std::vector<std::string> mWrites;
};

class ZModemSocketDevice : public IO::Device {
public:
    /// Adopts fd (closed with the device).
    explicit ZModemSocketDevice(int fd) : mFile(fd, true) {}
    bool isOpen() override { return mFile.isOpen(); }
    void open() override {}
    void close() override { mFile.close(); }
    Base::String getName() override { return "socket"; }
    long size() override { return mFile.isOpen() ? mFile.available() : 0; }
    // A socket's end shows as readable with nothing to read; the sessions see
    // that as a time-out at once, so this stays free of system calls.
    bool isEOF() override { return !mFile.isOpen(); }
    bool waitForData(unsigned int ms) override { return mFile.isOpen() && mFile.waitReadable(ms); }
    long readInternal(char* buffer, long length) override {
        long n = mFile.read(buffer, length);
        if (miCorruptRead >= 0 && miReadTotal <= miCorruptRead && miCorruptRead < miReadTotal + n) {
            buffer[miCorruptRead - miReadTotal] ^= 0x01;
            miCorruptRead = -1;
        }
        miReadTotal += n > 0 ? n : 0;
        return n;
    }
    /// Flips one bit of the byte at offset of everything read.
    void corruptRead(long offset) { miCorruptRead = offset; }
    long write(const char* buffer, long length) override {
        int n = ++miWrites;
        if (mOnWrite) mOnWrite(n, length);
        if (length >= miCorruptMinLength && miCorruptWrite > 0 && ++miBigWrites == miCorruptWrite) {
            std::string copy(buffer, static_cast<std::size_t>(length));
            copy[static_cast<std::size_t>(miCorruptOffset)] ^= 0x01;
            return mFile.write(copy.data(), length);
        }
        return mFile.write(buffer, length);
    }
    using IO::OutputDevice::write;
    /// Flips one bit at offset of the nth write that is at least minLength long.
    void corruptWrite(int nth, long offset, long minLength) {
        miCorruptWrite = nth;
        miCorruptOffset = offset;
        miCorruptMinLength = minLength;
    }
    /// Called before each write with its number (from 1) and length.
    void onWrite(std::function<void(int, long)> hook) { mOnWrite = std::move(hook); }
    int getFd() const { return mFile.getHandle(); }

private:
    IO::FileInternal mFile;
    std::atomic<int> miWrites{0};
    int miBigWrites = 0;
    int miCorruptWrite = 0;
    long miCorruptOffset = 0;
    long miCorruptMinLength = 1L << 30;
    long miCorruptRead = -1;
    long miReadTotal = 0;
    std::function<void(int, long)> mOnWrite;
};

struct ZModemSocketPair {
    int fd[2] = {-1, -1};
    ZModemSocketPair() {
        // A peer that has gone must show as a failed write, not end the test program.
        ::signal(SIGPIPE, SIG_IGN);
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd) != 0) throw std::runtime_error("socketpair");
    }
    /// Hands one end over (the caller closes it from now on).
    int take(int i) {
        int f = fd[i];
        fd[i] = -1;
        return f;
    }
    ~ZModemSocketPair() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
};

inline std::string zmodemFindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string all = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        std::string candidate = all.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

class ZModemPeerProcess {
public:
    ZModemPeerProcess() = default;
    ZModemPeerProcess(const ZModemPeerProcess&) = delete;
    ZModemPeerProcess& operator=(const ZModemPeerProcess&) = delete;
    ~ZModemPeerProcess() { stop(); }

    /// Starts program with args in directory; fd becomes its stdin and stdout,
    /// its stderr goes to stderrPath. The caller keeps (and closes) fd.
    void start(const std::string& program, const std::vector<std::string>& args, const std::string& directory, int fd,
               const std::string& stderrPath) {
        std::vector<std::string> all;
        all.push_back(program);
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        miPid = ::fork();
        if (miPid < 0) throw std::runtime_error("fork");
        if (miPid == 0) {
            // Only async-signal-safe calls between fork and exec.
            if (::chdir(directory.c_str()) != 0) ::_exit(126);
            ::dup2(fd, 0);
            ::dup2(fd, 1);
            if (err >= 0) ::dup2(err, 2);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        if (err >= 0) ::close(err);
    }
    /// Waits up to ms for the peer to end; its exit status, or -1 when it did
    /// not end in time (it is then killed and reaped).
    int wait(int ms) {
        if (miPid <= 0) return miStatus;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int status = 0;
            pid_t r = ::waitpid(miPid, &status, WNOHANG);
            if (r == miPid) {
                miPid = -1;
                miStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return miStatus;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                stop();
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // polling a child's exit, not a safety sleep
        }
    }
    void stop() {
        if (miPid > 0) {
            ::kill(miPid, SIGKILL);
            int status = 0;
            ::waitpid(miPid, &status, 0);
            miPid = -1;
            miStatus = -1;
        }
    }

private:
    pid_t miPid = -1;
    int miStatus = -1;
};

class ZModemTempDir {
public:
    ZModemTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zmodem-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp");
        msPath = buf.data();
    }
    ~ZModemTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(msPath, ec);
    }
    const std::string& path() const { return msPath; }
    std::string file(const std::string& name) const { return msPath + "/" + name; }
    /// Makes a subdirectory and returns its path.
    std::string sub(const std::string& name) const {
        std::filesystem::create_directories(file(name));
        return file(name);
    }

private:
    std::string msPath;
};

inline std::string zmodemRandomBytes(std::size_t n, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; i += 8) {
        std::uint64_t v = gen();
        for (std::size_t k = 0; k < 8 && i + k < n; ++k) s[i + k] = static_cast<char>(v >> (8 * k));
    }
    return s;
}

inline void zmodemWriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string zmodemReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string("<missing>");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
