// 1 GiB over loopback TCP in 64 KiB writes and reads: through a pair of
// Net::TcpIp4Device (one accepted by a Net::TcpIp4Server) and through plain
// send/recv on raw sockets, in the same run. The device figure carries its
// ratio to the raw figure measured just before it (goal: at least 0.9).
//
//   ./build/bench/SocketBench

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "net/socket/TcpIp4Device.h"
#include "net/socket/TcpIp4Server.h"

namespace {

constexpr long Chunk = 64 * 1024;
constexpr long long Total = 1LL << 30;
double gRawBytesPerSecond = 0;

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

void report(benchmark::State& state, double seconds, long long bytes) {
    state.SetBytesProcessed(bytes);
    state.counters["MiB/s"] = static_cast<double>(bytes) / seconds / (1 << 20);
}

void BM_RawSendRecv(benchmark::State& state) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 4);
    socklen_t length = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) std::abort();
    int served = ::accept(listener, nullptr, nullptr);
    double seconds = 0;
    long long bytes = 0;
    for (auto _ : state) {
        double s = moveOneGiB([&](const char* b, long n) { return static_cast<long>(::send(client, b, n, MSG_NOSIGNAL)); },
                              [&](char* b, long n) { return static_cast<long>(::recv(served, b, n, 0)); });
        state.SetIterationTime(s);
        seconds += s;
        bytes += Total;
    }
    report(state, seconds, bytes);
    gRawBytesPerSecond = static_cast<double>(bytes) / seconds;
    ::close(client);
    ::close(served);
    ::close(listener);
}

void BM_TcpIp4Device(benchmark::State& state) {
    Net::TcpIp4Server server(0);
    Net::TcpIp4Device client("127.0.0.1", server.getLocalPort(), 3000);
    client.open();
    std::unique_ptr<IO::Device> served(server.acceptInternal());
    double seconds = 0;
    long long bytes = 0;
    for (auto _ : state) {
        double s = moveOneGiB([&](const char* b, long n) { return client.write(b, n); },
                              [&](char* b, long n) { return served->readInternal(b, n); });
        state.SetIterationTime(s);
        seconds += s;
        bytes += Total;
    }
    report(state, seconds, bytes);
    if (gRawBytesPerSecond > 0) state.counters["ratio_to_raw"] = static_cast<double>(bytes) / seconds / gRawBytesPerSecond;
}

}  // namespace

// Raw first: the device run reads its figure.
BENCHMARK(BM_RawSendRecv)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TcpIp4Device)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
