// 1 GiB over loopback TCP in 64 KiB writes and reads: through a pair of
// Net::TcpIp4Device (one accepted by a Net::TcpIp4Server) and through plain
// send/recv on raw sockets, in the same run.
//
// BM_RawSendRecv and BM_TcpIp4Device give each figure on its own.
// BM_DeviceVsRaw alternates the two paths 1 GiB at a time, so that load from
// other processes falls on both alike, and reports both figures, the ratio
// device / raw (goal: at least 0.9) and the CPU time each path takes per GiB.
//
//   ./build/bench/SocketBench

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>

namespace {

constexpr long Chunk = 64 * 1024;
constexpr long long Total = 1LL << 30;
constexpr double MiB = 1 << 20;

// CPU seconds the whole process has used (both threads of a transfer).
double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Seconds to move Total bytes: a sender thread writes, the calling thread reads.
template <typename Send, typename Receive>
double moveOneGiB(Send send, Receive receive) {
    std::vector<char> out(Chunk, 'v');
    std::vector<char> in(Chunk);
    auto start = std::chrono::steady_clock::now();
    std::thread sender([&] {
        for (long long sent = 0; sent < Total;) {
            long n = send(out.data(), Chunk);
            if (n <= 0) std::abort();
            sent += n;
        }
    });
    for (long long got = 0; got < Total;) {
        long n = receive(in.data(), Chunk);
        if (n <= 0) std::abort();
        got += n;
    }
    sender.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A connected pair of plain sockets on 127.0.0.1.
class RawPair {
public:
    RawPair() {
        int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener, 4);
        socklen_t length = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
        miClient = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(miClient, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) std::abort();
        miServed = ::accept(listener, nullptr, nullptr);
        ::close(listener);
    }
    ~RawPair() {
        ::close(miClient);
        ::close(miServed);
    }
    double run(double* cpu = nullptr) {
        double before = processCpuSeconds();
        double s =
            moveOneGiB([&](const char* b, long n) { return static_cast<long>(::send(miClient, b, n, MSG_NOSIGNAL)); },
                       [&](char* b, long n) { return static_cast<long>(::recv(miServed, b, n, 0)); });
        if (cpu) *cpu += processCpuSeconds() - before;
        return s;
    }

private:
    int miClient;
    int miServed;
};

// The same through the library: a client device and the device the server accepted.
class DevicePair {
public:
    DevicePair() : mServer(0), mClient("127.0.0.1", mServer.getLocalPort(), 3000) {
        mClient.open();
        mpServed.reset(mServer.acceptInternal());
    }
    double run(double* cpu = nullptr) {
        double before = processCpuSeconds();
        double s = moveOneGiB([&](const char* b, long n) { return mClient.write(b, n); },
                              [&](char* b, long n) { return mpServed->readInternal(b, n); });
        if (cpu) *cpu += processCpuSeconds() - before;
        return s;
    }

private:
    Net::TcpIp4Server mServer;
    Net::TcpIp4Device mClient;
    std::unique_ptr<IO::Device> mpServed;
};

template <typename Pair>
void runAlone(benchmark::State& state) {
    Pair pair;
    double seconds = 0;
    for (auto _ : state) {
        double s = pair.run();
        state.SetIterationTime(s);
        seconds += s;
    }
    long long bytes = Total * static_cast<long long>(state.iterations());
    state.SetBytesProcessed(bytes);
    state.counters["MiB/s"] = static_cast<double>(bytes) / seconds / MiB;
}

void BM_RawSendRecv(benchmark::State& state) { runAlone<RawPair>(state); }
void BM_TcpIp4Device(benchmark::State& state) { runAlone<DevicePair>(state); }

void BM_DeviceVsRaw(benchmark::State& state) {
    RawPair raw;
    DevicePair device;
    double rawSeconds = 0, deviceSeconds = 0, rawCpu = 0, deviceCpu = 0;
    for (auto _ : state) {
        rawSeconds += raw.run(&rawCpu);
        double s = device.run(&deviceCpu);
        deviceSeconds += s;
        state.SetIterationTime(s);
    }
    double bytes = static_cast<double>(Total) * static_cast<double>(state.iterations());
    state.counters["raw_MiB/s"] = bytes / rawSeconds / MiB;
    state.counters["device_MiB/s"] = bytes / deviceSeconds / MiB;
    state.counters["ratio"] = rawSeconds / deviceSeconds;
    // CPU seconds per GiB of both threads: what each path costs, whatever else the machine runs.
    double gib = static_cast<double>(state.iterations());
    state.counters["raw_cpu_s/GiB"] = rawCpu / gib;
    state.counters["device_cpu_s/GiB"] = deviceCpu / gib;
}

}  // namespace

BENCHMARK(BM_RawSendRecv)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TcpIp4Device)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeviceVsRaw)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
