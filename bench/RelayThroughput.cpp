// The relay (two partnered UDL::Proxy threads) against socat on the same
// transfers, run alternately so that load from other processes falls on both
// alike.
//
//   producer --> [relay or socat] --> consumer
//
// The producer and the consumer are threads of this program; the relay runs
// in a process of its own (this program again, with --relay A B) so that its
// CPU time and peak memory are measured the way socat's are: from
// /proc/PID/stat (user + system time during the transfer) and VmHWM.
//
//   build/bench/RelayThroughput                      the whole table
//   build/bench/RelayThroughput --runs 3 --gib 1 --slow-seconds 10 --relay-options :NoDelay=0
//
// For each transport (TCP on 127.0.0.1, local pipes) each run moves the same
// GiB through the relay, socat with its default buffer and socat -b 131072,
// one after the other. The table gives medians of MB/s, CPU seconds per GiB
// and peak RSS, and the median of the per-run ratios relay / socat. The
// slow-sink rows feed a consumer that reads 10 MB/s for 10 s from a producer
// that writes as fast as it can, and give each relay's peak RSS.
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
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include <varonet/udl/Proxy.h>
#include "RelayBench.h"
#include "support/Files.h"
#include "support/Process.h"

namespace {

constexpr long kBlock = 128 * 1024;
constexpr double kMB = 1e6;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

// Where the relay's two ends are: the listeners the producer and consumer
// serve, and the locators / socat addresses that reach them.
struct Transport {
    const char* name;
    std::unique_ptr<IO::DeviceServer> source, sink;
    std::string sourceLocator, sinkLocator, sourceSocat, sinkSocat;
};

Transport tcp() {
    Transport t{"TCP", std::make_unique<Net::TcpIp4Server>(0), std::make_unique<Net::TcpIp4Server>(0), "", "", "", ""};
    auto port = [](IO::DeviceServer& s) { return std::to_string(static_cast<Net::TcpIp4Server&>(s).getLocalPort()); };
    t.sourceLocator = "tcpip:127.0.0.1@" + port(*t.source);
    t.sinkLocator = "tcpip:127.0.0.1@" + port(*t.sink);
    t.sourceSocat = "TCP:127.0.0.1:" + port(*t.source);
    t.sinkSocat = "TCP:127.0.0.1:" + port(*t.sink);
    return t;
}

Transport pipes() {
    std::string tag = std::to_string(::getpid());
    Transport t{"pipes",
                std::make_unique<Net::DomainServer>("relaybench-src-" + tag),
                std::make_unique<Net::DomainServer>("relaybench-dst-" + tag),
                "",
                "",
                "",
                ""};
    t.sourceLocator = "domain:relaybench-src-" + tag;
    t.sinkLocator = "domain:relaybench-dst-" + tag;
    t.sourceSocat = "UNIX-CONNECT:" + Net::DomainAddress::getPath("relaybench-src-" + tag).str();
    t.sinkSocat = "UNIX-CONNECT:" + Net::DomainAddress::getPath("relaybench-dst-" + tag).str();
    return t;
}

using Bench::median;
using Bench::Result;
using Bench::selfPath;

std::string gsRelayOptions;  // appended to both relay locators (--relay-options ":NoDelay=0")

std::unique_ptr<TestSupport::ChildProcess> startRelay(const std::string& program, const Transport& t) {
    std::vector<std::string> argv;
    if (program == "relay") {
        argv = {selfPath(), "--relay", t.sourceLocator + gsRelayOptions, t.sinkLocator + gsRelayOptions};
    } else {
        argv = {"socat"};
        if (program == "socat-b131072") argv.push_back("-b131072");
        argv.push_back(t.sourceSocat);
        argv.push_back(t.sinkSocat);
    }
    return std::make_unique<TestSupport::ChildProcess>(argv);
}

std::unique_ptr<IO::Device> acceptWithin(IO::DeviceServer& server, unsigned int ms) {
    if (!server.waitForConnection(ms)) {
        std::fprintf(stderr, "the relay did not connect\n");
        std::exit(1);
    }
    return std::unique_ptr<IO::Device>(server.accept());
}

// Moves bytes from the producer to the consumer through one relay process.
// paceMBps = 0: as fast as both go, until total bytes arrived; otherwise the
// consumer reads at that rate for seconds and the producer writes what it can.
Result transfer(Transport& t, const std::string& program, long long total, double paceMBps, double seconds) {
    auto child = startRelay(program, t);
    auto source = acceptWithin(*t.source, 10000);
    auto sink = acceptWithin(*t.sink, 10000);
    TestSupport::ChildProcess::Usage before = child->usage();
    std::atomic<bool> stop{false};
    auto start = std::chrono::steady_clock::now();
    std::thread producer([&] {
        std::vector<char> block(kBlock, 'r');
        try {
            for (long long sent = 0; !stop && (paceMBps > 0 || sent < total); sent += kBlock)
                if (source->write(block.data(), kBlock) != kBlock) break;
        } catch (const Base::Exception&) {
            // the relay went away (end of a slow-sink run)
        }
        source->close();
    });
    std::vector<char> in(kBlock);
    long long got = 0;
    double elapsed = 0;
    for (;;) {
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (paceMBps > 0 ? elapsed >= seconds : got >= total) break;
        long want = kBlock;
        if (paceMBps > 0) {
            // Read no faster than the pace: wait until the clock has caught up with what came.
            double due = static_cast<double>(got) / (paceMBps * kMB);
            if (due > elapsed) {
                std::this_thread::sleep_for(std::chrono::duration<double>(std::min(due - elapsed, 0.05)));
                continue;
            }
            want = 64 * 1024;
        }
        if (!sink->waitForData(5000)) break;
        long n = sink->readInternal(in.data(), want);
        if (n <= 0) break;
        got += n;
    }
    TestSupport::ChildProcess::Usage after = child->usage();
    child->signal(SIGTERM);
    child->wait(5000);
    stop = true;
    child.reset();  // the producer's writes now fail if it still waits
    producer.join();
    // A relay reconnects a side the producer closed: drop what it left queued.
    for (IO::DeviceServer* server : {t.source.get(), t.sink.get()})
        while (server->waitForConnection(0)) delete server->accept();
    if (paceMBps == 0 && got < total)
        std::fprintf(stderr, "%s over %s: only %lld of %lld bytes\n", program.c_str(), t.name, got, total);
    Result r;
    r.mbPerSecond = static_cast<double>(got) / elapsed / kMB;
    r.cpuPerGiB = (after.cpu - before.cpu) / (static_cast<double>(got) / kGiB);
    r.peakMiB = after.peakMiB;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--relay") == 0) return Bench::runRelay(argv[2], argv[3]);
    int runs = 5;
    double gib = 1, slowSeconds = 10, slowMBps = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--runs") runs = std::atoi(argv[i + 1]);
        else if (option == "--gib") gib = std::atof(argv[i + 1]);
        else if (option == "--slow-seconds") slowSeconds = std::atof(argv[i + 1]);
        else if (option == "--relay-options") gsRelayOptions = argv[i + 1];
    }
    if (TestSupport::findProgram("socat").empty()) {
        std::fprintf(stderr, "socat is missing\n");
        return 1;
    }
    const long long total = static_cast<long long>(gib * kGiB);
    const std::vector<std::string> programs = {"relay", "socat", "socat-b131072"};
    std::printf("%-6s %-14s %9s %10s %9s %16s\n", "", "", "MB/s", "CPU s/GiB", "RSS MiB", "relay/this MB/s");
    for (auto make : {tcp, pipes}) {
        Transport t = make();
        std::vector<std::vector<Result>> results(programs.size());
        for (int run = 0; run < runs; ++run)
            for (std::size_t p = 0; p < programs.size(); ++p)
                results[p].push_back(transfer(t, programs[p], total, 0, 0));
        for (std::size_t p = 0; p < programs.size(); ++p) {
            std::vector<double> speed, cpu, rss, ratio;
            for (int run = 0; run < runs; ++run) {
                speed.push_back(results[p][run].mbPerSecond);
                cpu.push_back(results[p][run].cpuPerGiB);
                rss.push_back(results[p][run].peakMiB);
                ratio.push_back(results[0][run].mbPerSecond / results[p][run].mbPerSecond);
            }
            std::printf("%-6s %-14s %9.0f %10.3f %9.1f %16.2f\n", t.name, programs[p].c_str(), median(speed),
                        median(cpu), median(rss), median(ratio));
        }
        std::fflush(stdout);
    }
    Transport t = tcp();
    for (const auto& program : programs) {
        Result r = transfer(t, program, 0, slowMBps, slowSeconds);
        std::printf("slow   %-14s %9.1f %10s %9.1f   (consumer at %.0f MB/s for %.0f s)\n", program.c_str(),
                    r.mbPerSecond, "", r.peakMiB, slowMBps, slowSeconds);
        std::fflush(stdout);
    }
    return 0;
}
