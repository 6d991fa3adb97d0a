// ZMODEM on a long line: sz and rz (lrzsz) against our sender and receiver
// through a relay that holds every chunk for a chosen time in each direction
// (a line with that one-way delay and no bandwidth limit). The pairings run
// alternating, round after round, so that a change in the machine's load
// reaches them all alike.
//
//   build/bench/ZModemLongLine                          25 ms each way, 1 MiB, 5 rounds
//   build/bench/ZModemLongLine --delay-ms 0 --size 64M  a clean local line (no relay)
//   build/bench/ZModemLongLine --rounds 3 --pairs sz-rz,ours-rz
//   build/bench/ZModemLongLine --window 0                the classic wait for every ZACK
//
// Our ends work as the varonet tool's send and receive do: the sender streams
// with the tool's window (--window, 1 MiB) and offers the full form, the
// receiver greets at once. --window 0: both as the library's defaults have them.
// It prints the median time of each pairing and its ratio to sz -> rz.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <varonet/zmodem/CZModem.h>
#include "ZModemPeer.h"
#include "support/DescriptorDevice.h"
#include "support/Files.h"
#include "support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLimitMs = 300000;

std::string self;

// One direction of the line: a reader takes what arrives and stamps it, a
// writer passes each chunk on once it is old enough. A close is passed on the
// same way, after the bytes before it.
class DelayedDirection {
public:
    DelayedDirection(int from, int to, std::chrono::milliseconds delay)
        : mFrom(from), mTo(to), mDelay(delay), mReader([this] { read(); }), mWriter([this] { write(); }) {}
    ~DelayedDirection() {
        ::shutdown(mFrom, SHUT_RDWR);
        ::shutdown(mTo, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> guard(mMutex);
            mStop = true;
        }
        mReady.notify_all();
        mReader.join();
        mWriter.join();
    }

private:
    struct Chunk {
        Clock::time_point due;
        std::string bytes;  // empty: the sender closed
    };
    void read() {
        std::vector<char> buffer(256 * 1024);
        for (;;) {
            long n = ::read(mFrom, buffer.data(), buffer.size());
            std::lock_guard<std::mutex> guard(mMutex);
            mQueue.push_back({Clock::now() + mDelay, n > 0 ? std::string(buffer.data(), n) : std::string()});
            mReady.notify_all();
            if (n <= 0) return;
        }
    }
    void write() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> lock(mMutex);
                mReady.wait(lock, [this] { return mStop || !mQueue.empty(); });
                if (mStop) return;
                const Clock::time_point due = mQueue.front().due;
                if (mReady.wait_until(lock, due, [this] { return mStop; })) return;
                chunk = std::move(mQueue.front());
                mQueue.pop_front();
            }
            if (chunk.bytes.empty()) {
                ::shutdown(mTo, SHUT_WR);
                return;
            }
            for (std::size_t done = 0; done < chunk.bytes.size();) {
                long w = ::send(mTo, chunk.bytes.data() + done, chunk.bytes.size() - done, MSG_NOSIGNAL);
                if (w <= 0) return;
                done += static_cast<std::size_t>(w);
            }
        }
    }

    int mFrom, mTo;
    std::chrono::milliseconds mDelay;
    std::mutex mMutex;
    std::condition_variable mReady;
    std::deque<Chunk> mQueue;
    bool mStop = false;
    std::thread mReader, mWriter;
};

// The line between two socket ends it takes over: a to b and b to a.
class DelayLine {
public:
    DelayLine(int a, int b, std::chrono::milliseconds delay) : mA(a), mB(b), mAtoB(a, b, delay), mBtoA(b, a, delay) {}
    ~DelayLine() {
        ::close(mA);
        ::close(mB);
    }

private:
    int mA, mB;
    DelayedDirection mAtoB, mBtoA;
};

struct Settings {
    int delayMs = 25;
    int window = 1 << 20;
    std::size_t size = 1u << 20;
    int rounds = 5;
    std::vector<std::string> pairs = {"sz-rz", "ours-rz", "sz-ours", "ours-ours"};
};

// One transfer of big.bin from send/ to recv/ in dir: seconds, or -1 when it failed.
double transfer(const Settings& settings, const std::string& pair, const TestSupport::TempDir& dir,
                const std::string& bytes) {
    using TestSupport::ChildProcess;
    const std::string send = dir.path() + "/send", recv = dir.path() + "/recv";
    std::filesystem::remove(recv + "/big.bin");
    const bool oursSend = pair.rfind("ours", 0) == 0, oursRecv = pair.find("-ours") != std::string::npos;
    TestSupport::SocketPair left, right;  // sender <-> line, line <-> receiver
    const auto start = Clock::now();
    ChildProcess receiver(oursRecv ? std::vector<std::string>{self, "--peer-receive", std::to_string(settings.window)}
                                   : std::vector<std::string>{"rz", "-q"},
                          {recv, right.fd[1], right.fd[1], dir.file("receiver.err")});
    ChildProcess sender(oursSend
                            ? std::vector<std::string>{self, "--peer-send", "big.bin", std::to_string(settings.window)}
                            : std::vector<std::string>{"sz", "-q", "big.bin"},
                        {send, settings.delayMs ? left.fd[0] : right.fd[0], settings.delayMs ? left.fd[0] : right.fd[0],
                         dir.file("sender.err")});
    ::close(left.take(0));
    ::close(right.take(1));
    std::unique_ptr<DelayLine> line;
    if (settings.delayMs)
        line = std::make_unique<DelayLine>(left.take(1), right.take(0), std::chrono::milliseconds(settings.delayMs));
    else ::close(right.take(0));
    const int a = sender.wait(kLimitMs), b = receiver.wait(kLimitMs);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    line.reset();
    return a == 0 && b == 0 && TestSupport::readFile(recv + "/big.bin") == bytes ? seconds : -1;
}

std::size_t bytesOf(const std::string& text) {
    std::size_t end = 0;
    double value = std::stod(text, &end);
    const std::string unit = text.substr(end);
    return static_cast<std::size_t>(value * (unit == "K" ? 1024 : unit == "M" ? 1 << 20 : 1));
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    self = std::filesystem::canonical("/proc/self/exe").string();
    if (argc >= 4 && std::strcmp(argv[1], "--peer-send") == 0)
        return Bench::runOurZModemEnd(true, argv[2], std::stoi(argv[3]));
    if (argc >= 3 && std::strcmp(argv[1], "--peer-receive") == 0)
        return Bench::runOurZModemEnd(false, nullptr, std::stoi(argv[2]));
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--delay-ms") settings.delayMs = std::stoi(value);
        else if (option == "--size") settings.size = bytesOf(value);
        else if (option == "--window") settings.window = static_cast<int>(bytesOf(value));
        else if (option == "--rounds") settings.rounds = std::max(1, std::stoi(value));
        else if (option == "--pairs") settings.pairs = Bench::splitList(value);
        else {
            std::fprintf(stderr,
                         "usage: %s [--delay-ms MS] [--size N[K|M]] [--window N[K|M]] [--rounds N] [--pairs "
                         "sz-rz,ours-rz,...]\n",
                         argv[0]);
            return 2;
        }
    }
    if (TestSupport::findProgram("sz").empty() || TestSupport::findProgram("rz").empty()) {
        std::fprintf(stderr, "sz / rz not on PATH (Debian package lrzsz)\n");
        return 1;
    }
    TestSupport::TempDir dir;
    dir.sub("send");
    dir.sub("recv");
    const std::string bytes = TestSupport::randomBytes(settings.size, 99);
    TestSupport::writeFile(dir.path() + "/send/big.bin", bytes);
    std::vector<std::vector<double>> times(settings.pairs.size());
    int failures = 0;
    for (int round = 0; round < settings.rounds; ++round) {
        for (std::size_t k = 0; k < settings.pairs.size(); ++k) {
            const double s = transfer(settings, settings.pairs[k], dir, bytes);
            if (s < 0) ++failures;
            else times[k].push_back(s);
        }
    }
    std::printf(
        "%g MiB random, %d ms each way%s, our window %d, %d rounds; median of the runs that delivered the "
        "file\n\n",
        static_cast<double>(settings.size) / (1 << 20), settings.delayMs,
        settings.delayMs ? "" : " (no relay: one socket pair)", settings.window, settings.rounds);
    std::printf("| way | median s | MB/s | / sz->rz |\n|---|---|---|---|\n");
    double reference = -1;
    for (std::size_t k = 0; k < settings.pairs.size(); ++k)
        if (settings.pairs[k] == "sz-rz") reference = median(times[k]);
    for (std::size_t k = 0; k < settings.pairs.size(); ++k) {
        const double m = median(times[k]);
        char ratio[32] = "-";
        if (reference > 0 && m > 0) std::snprintf(ratio, sizeof ratio, "%.2fx", m / reference);
        std::printf("| %s | %.3f | %.1f | %s |\n", settings.pairs[k].c_str(), m,
                    m > 0 ? static_cast<double>(settings.size) / m / 1e6 : 0.0, ratio);
    }
    if (failures) std::printf("\n%d runs failed\n", failures);
    return failures ? 1 : 0;
}
