// Remote serial ports and IPv6, measured: the same bytes through our RFC 2217
// server (a relay process) and through ser2net, and through the TCP relay over
// IPv4 and over IPv6, run alternately so that load from other processes falls
// on both alike.
//
//   pty master --> pty slave --> [relay server:rfc2217: or ser2net] --TCP--> our rfc2217: client
//   producer   --TCP--> [relay tcpip: <-> tcpip:, on 127.0.0.1 or on ::1] --TCP--> consumer
//
// The producer and consumer are threads of this program; the server or relay
// is a process of its own (this program again, with --relay A B) whose CPU
// time and peak memory come from /proc. Each serial run moves the bytes one
// way (pty to client, then client to pty); the slow rows feed a client that
// reads 1 MB/s for a few seconds from a producer that writes as fast as it can.
//
//   build/bench/RemoteSerialThroughput                       the whole table
//   build/bench/RemoteSerialThroughput --runs 3 --mib 64 --slow-seconds 5
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <varonet/base/Exception.h>
#include <varonet/base/PseudoTerminal.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/net/socket/TcpServer.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/Proxy.h>
#include <varonet/udl/SerialPortLink.h>
#include "RelayBench.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/Ser2net.h"

namespace {

constexpr long kBlock = 64 * 1024;
constexpr double kMB = 1e6;

using Bench::median;
using Bench::Result;
using Bench::selfPath;

std::unique_ptr<IO::Device> resolve(const std::string& locator) {
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device(resolver.resolve(locator, nullptr, nullptr));
    if (!device) std::exit(1);
    return device;
}

// Moves total bytes (or, with paceMBps, what a consumer reading at that pace takes
// in seconds) from one device to another, while the process at pid passes them on.
Result pump(IO::Device& from, IO::Device& to, const TestSupport::ChildProcess& between, long long total,
            double paceMBps = 0, double seconds = 0) {
    const TestSupport::ChildProcess::Usage before = between.usage();
    std::atomic<bool> stop{false};
    const auto start = std::chrono::steady_clock::now();
    std::thread producer([&] {
        std::string block;
        while (block.size() < static_cast<std::size_t>(kBlock)) block += static_cast<char>(block.size() % 256);
        try {
            for (long long sent = 0; !stop && (paceMBps > 0 || sent < total); sent += kBlock)
                if (from.write(block.data(), kBlock) != kBlock) break;
        } catch (const Base::Exception&) {}
    });
    std::vector<char> in(kBlock);
    long long got = 0;
    double elapsed = 0;
    for (;;) {
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (paceMBps > 0 ? elapsed >= seconds : got >= total) break;
        if (paceMBps > 0 && static_cast<double>(got) / (paceMBps * kMB) > elapsed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (!to.waitForData(5000)) break;
        long n = to.read(in.data(), paceMBps > 0 ? 16 * 1024 : kBlock);
        if (n <= 0) break;
        got += n;
    }
    const TestSupport::ChildProcess::Usage after = between.usage();
    stop = true;
    from.close();  // ends a producer that waits for room
    to.close();
    producer.join();
    if (paceMBps == 0 && got < total) std::fprintf(stderr, "only %lld of %lld bytes\n", got, total);
    return {static_cast<double>(got) / elapsed / kMB, (after.cpu - before.cpu) / (static_cast<double>(got) / (1 << 30)),
            after.peakMiB};
}

// One transfer between a pseudo-terminal and our client, through server ("relay" or "ser2net").
Result serialRun(const std::string& server, bool toClient, long long total, double paceMBps = 0, double seconds = 0) {
    TestSupport::TempDir folder;
    IO::PseudoTerminal pty;
    unsigned int port = TestSupport::unusedPort();
    std::unique_ptr<TestSupport::ChildProcess> child;
    std::unique_ptr<TestSupport::Ser2net> ser2net;
    if (server == "relay") {
        child = std::make_unique<TestSupport::ChildProcess>(
            std::vector<std::string>{selfPath(), "--relay", "server:rfc2217:Port=" + std::to_string(port),
                                     "serial:" + pty.getSlavePath().str() + "@115200"});
        TestSupport::waitListening(port, 5000);
    } else {
        ser2net = std::make_unique<TestSupport::Ser2net>(pty.getSlavePath().str(), folder.path());
        port = ser2net->port();
    }
    auto client = resolve("rfc2217:127.0.0.1@" + std::to_string(port) + ":baudrate=115200,ReplyTimeout=200");
    client->open();
    // ser2net's process is the Ser2net helper's; its usage is read through a child of the same pid.
    const TestSupport::ChildProcess& between = child ? *child : ser2net->process();
    return toClient ? pump(pty, *client, between, total, paceMBps, seconds) : pump(*client, pty, between, total);
}

// One transfer through the TCP relay with both listeners on host (127.0.0.1 or ::1).
Result tcpRun(const std::string& host, long long total) {
    Net::TcpServer source(0, host), sink(0, host);
    const std::string at = "tcpip:" + (host == "::1" ? std::string("[::1]") : host) + "@";
    TestSupport::ChildProcess relay(
        {selfPath(), "--relay", at + std::to_string(source.getLocalPort()), at + std::to_string(sink.getLocalPort())});
    if (!source.waitForConnection(10000) || !sink.waitForConnection(10000)) std::exit(1);
    std::unique_ptr<IO::Device> in(source.accept()), out(sink.accept());
    Result r = pump(*in, *out, relay, total);
    relay.signal(SIGTERM);
    relay.wait(5000);
    return r;
}

void row(const char* path, const char* by, const std::vector<Result>& mine, const std::vector<Result>& theirs) {
    std::vector<double> speed, cpu, rss, ratio;
    for (std::size_t i = 0; i < mine.size(); ++i) {
        speed.push_back(mine[i].mbPerSecond);
        cpu.push_back(mine[i].cpuPerGiB);
        rss.push_back(mine[i].peakMiB);
        ratio.push_back(theirs[i].mbPerSecond / mine[i].mbPerSecond);
    }
    std::printf("%-14s %-10s %9.1f %10.2f %9.1f %15.2f\n", path, by, median(speed), median(cpu), median(rss),
                median(ratio));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--relay") == 0) return Bench::runRelay(argv[2], argv[3]);
    int runs = 5;
    double mib = 64, tcpMib = 1024, slowSeconds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--runs") runs = std::atoi(argv[i + 1]);
        else if (option == "--mib") mib = std::atof(argv[i + 1]);
        else if (option == "--tcp-mib") tcpMib = std::atof(argv[i + 1]);
        else if (option == "--slow-seconds") slowSeconds = std::atof(argv[i + 1]);
    }
    const long long total = static_cast<long long>(mib * 1024 * 1024);
    std::printf("%-14s %-10s %9s %10s %9s %15s\n", "path", "by", "MB/s", "CPU s/GiB", "RSS MiB", "first/this MB/s");
    for (bool toClient : {true, false}) {
        std::vector<Result> relay, ser2net;
        for (int run = 0; run < runs; ++run) {
            relay.push_back(serialRun("relay", toClient, total));
            ser2net.push_back(serialRun("ser2net", toClient, total));
        }
        const char* path = toClient ? "pty->client" : "client->pty";
        row(path, "relay", relay, relay);
        row(path, "ser2net", ser2net, relay);
    }
    std::vector<Result> v4, v6;
    for (int run = 0; run < runs; ++run) {
        v4.push_back(tcpRun("127.0.0.1", static_cast<long long>(tcpMib * 1024 * 1024)));
        v6.push_back(tcpRun("::1", static_cast<long long>(tcpMib * 1024 * 1024)));
    }
    row("TCP relay", "IPv4", v4, v4);
    row("TCP relay", "IPv6", v6, v4);
    for (const char* server : {"relay", "ser2net"}) {
        Result r = serialRun(server, true, 0, 1, slowSeconds);
        std::printf("%-14s %-10s %9.1f %10s %9.1f   (client reads 1 MB/s for %.0f s)\n", "slow client", server,
                    r.mbPerSecond, "", r.peakMiB, slowSeconds);
    }
    return 0;
}
