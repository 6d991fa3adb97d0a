// ZMODEM on a noisy line: sz and rz (lrzsz) against our sender and receiver,
// through a relay that flips one random bit of a byte with probability p, in
// both directions, with a seed per run.
//
//   build/bench/ZModemNoise                    the whole table (needs sz and rz on PATH)
//   build/bench/ZModemNoise --runs 3 --levels 0,1e-4 --jobs 4 --pairs sz-rz,ours-ours
//   build/bench/ZModemNoise --window 1M        our ends as the tool's (streaming); default 0: as the library's defaults have them
//
// For each p and pairing it prints how many of the runs delivered the file
// byte-exact within the limit, and the median time of those that did.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/ZModemDebugSink.h>
#include "ZModemPeer.h"
#include "support/ByteRelay.h"
#include "support/DescriptorDevice.h"
#include "support/Files.h"
#include "support/Process.h"

namespace {

constexpr std::size_t kFileBytes = 1u << 20;
constexpr int kLimitMs = 90000;

std::string self;
int window = 0;  // our sender's

struct Run {
    bool ok = false;
    double seconds = 0;
};

// ZMODEM_NOISE_KEEP=DIR: the peers' stderr of every run is copied there.
void keep(const TestSupport::TempDir& dir, const std::string& pair, double p, unsigned seed) {
    const char* to = std::getenv("ZMODEM_NOISE_KEEP");
    if (!to) return;
    std::string stem = std::string(to) + "/" + pair + "-" + std::to_string(p) + "-" + std::to_string(seed);
    for (const char* who : {"sender", "receiver"})
        TestSupport::writeFile(stem + "." + who, TestSupport::readFile(dir.file(std::string(who) + ".err")));
}

// One transfer of big.bin from send/ to recv/ in dir.
Run transfer(const std::string& pair, double p, unsigned seed) {
    using TestSupport::ChildProcess;
    TestSupport::TempDir dir;
    std::string send = dir.sub("send"), recv = dir.sub("recv");
    std::string bytes = TestSupport::randomBytes(kFileBytes, seed);
    TestSupport::writeFile(send + "/big.bin", bytes);
    TestSupport::SocketPair left, right;  // sender <-> relay, relay <-> receiver
    bool oursSend = pair.rfind("ours", 0) == 0, oursRecv = pair.find("-ours") != std::string::npos;
    auto start = std::chrono::steady_clock::now();
    ChildProcess receiver(oursRecv ? std::vector<std::string>{self, "--peer-receive", std::to_string(window)}
                                   : std::vector<std::string>{"rz", "-q"},
                          {recv, right.fd[1], right.fd[1], dir.file("receiver.err")});
    ChildProcess sender(oursSend ? std::vector<std::string>{self, "--peer-send", "big.bin", std::to_string(window)}
                                 : std::vector<std::string>{"sz", "-q", "big.bin"},
                        {send, left.fd[0], left.fd[0], dir.file("sender.err")});
    ::close(left.take(0));
    ::close(right.take(1));
    TestSupport::ByteRelay line(left.take(1), right.take(0), TestSupport::ByteRelay::noise(p, seed * 7919u + 1));
    int a = sender.wait(kLimitMs);
    int used = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    int b = receiver.wait(static_cast<unsigned>(std::max(kLimitMs - used, 1)));
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.ok = a == 0 && b == 0 && TestSupport::readFile(recv + "/big.bin") == bytes;
    keep(dir, pair, p, seed);
    return run;
}

int peer(bool sending, const char* name) {
    // ZMODEM_NOISE_TRACE=1: the session's debug lines, timed, on the peer's stderr.
    if (std::getenv("ZMODEM_NOISE_TRACE")) {
        auto start = std::chrono::steady_clock::now();
        ZModem::ZModemDebugSink::set([start](const Base::String& line) {
            if (!std::getenv("ZMODEM_NOISE_DUMP") && (line.startsWith("reading from device") || line.startsWith("00")))
                return;
            double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "%8.3f %s", t, line.c_str());
        });
    }
    return Bench::runOurZModemEnd(sending, name, window);
}

}  // namespace

int main(int argc, char** argv) {
    self = std::filesystem::canonical("/proc/self/exe").string();
    if (argc >= 4 && std::strcmp(argv[1], "--peer-send") == 0) {
        window = std::stoi(argv[3]);
        return peer(true, argv[2]);
    }
    if (argc >= 3 && std::strcmp(argv[1], "--peer-receive") == 0) {
        window = std::stoi(argv[2]);
        return peer(false, nullptr);
    }
    int runs = 10, jobs = 2;
    std::vector<std::string> levels = {"0", "1e-6", "1e-5", "1e-4", "3e-4", "1e-3"};
    std::vector<std::string> pairs = {"sz-rz", "sz-ours", "ours-rz", "ours-ours"};
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i], value = argv[i + 1];
        if (option == "--runs") runs = std::stoi(value);
        else if (option == "--jobs") jobs = std::max(1, std::stoi(value));
        else if (option == "--levels") levels = Bench::splitList(value);
        else if (option == "--pairs") pairs = Bench::splitList(value);
        else if (option == "--window")
            window = std::stoi(value) * (value.back() == 'M' ? 1 << 20 : value.back() == 'K' ? 1024 : 1);
        else {
            std::fprintf(stderr,
                         "usage: %s [--runs N] [--jobs N] [--levels P,P..] [--pairs sz-rz,sz-ours,ours-rz,ours-ours] "
                         "[--window N[K|M]]\n",
                         argv[0]);
            return 2;
        }
    }
    if (TestSupport::findProgram("sz").empty() || TestSupport::findProgram("rz").empty()) {
        std::fprintf(stderr, "sz / rz not on PATH (Debian package lrzsz)\n");
        return 1;
    }
    std::printf(
        "1 MiB random file, %d seeded runs per cell, %d s limit, our sender's window %d; cell: completed/runs "
        "(median s)\n\n",
        runs, kLimitMs / 1000, window);
    std::printf("| p per byte |");
    for (const auto& pair : pairs) std::printf(" %s |", pair.c_str());
    std::printf("\n|---|");
    for (std::size_t k = 0; k < pairs.size(); ++k) std::printf("---|");
    std::printf("\n");
    std::fflush(stdout);
    for (const auto& level : levels) {
        double p = std::stod(level);
        std::printf("| %s |", level.c_str());
        for (const auto& pair : pairs) {
            std::vector<Run> results(static_cast<std::size_t>(runs));
            std::atomic<int> nextRun{0};
            std::vector<std::thread> workers;
            for (int j = 0; j < jobs; ++j)
                workers.emplace_back([&] {
                    for (int k; (k = nextRun++) < runs;)
                        results[static_cast<std::size_t>(k)] = transfer(pair, p, 1000u + static_cast<unsigned>(k));
                });
            for (auto& w : workers) w.join();
            std::vector<double> times;
            for (const auto& r : results)
                if (r.ok) times.push_back(r.seconds);
            std::sort(times.begin(), times.end());
            if (times.empty()) std::printf(" 0/%d |", runs);
            else std::printf(" %zu/%d (%.1f s) |", times.size(), runs, times[times.size() / 2]);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    return 0;
}
