// ZMODEM speed: the subpacket encoder and decoder, and whole transfers
// against lrzsz over socket pairs.
//
//   build/bench/ZModemBench                 everything (the transfers need sz and rz on PATH)
//   build/bench/ZModemBench --benchmark_filter=Codec    encoder and decoder only
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include <varonet/base/MemoryDevice.h>
#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/CZModemCore.h>
#include <varonet/zmodem/ZModemErrors.h>
#include "support/DescriptorDevice.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/ScriptedDevice.h"

namespace {

using ZModem::CZModem;
// The core's subpacket operations, which only the sessions use, opened for the codec benchmarks.
struct CZModemCore : ZModem::CZModemCore {
    using ZModem::CZModemCore::CZModemCore;
    using ZModem::CZModemCore::getData, ZModem::CZModemCore::getDataBuffer, ZModem::CZModemCore::sendData32;
};

constexpr std::size_t kCodecBytes = 64u << 20;
constexpr int kChunk = 1024;

std::string codecData(bool allZdle) {
    return allZdle ? std::string(kCodecBytes, '\x18') : TestSupport::randomBytes(kCodecBytes, 7);
}

void BM_CodecEncode(benchmark::State& state) {
    const std::string data = codecData(state.range(0) != 0);
    TestSupport::ScriptedDevice sink;
    sink.setRecording(false);
    CZModemCore core(&sink, false);
    for (auto _ : state) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        for (std::size_t off = 0; off < data.size(); off += kChunk)
            benchmark::DoNotOptimize(core.sendData32(p + off, kChunk, CZModemCore::ZCRCG));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    state.counters["writes_per_subpacket"] =
        static_cast<double>(sink.writeCount()) / (static_cast<double>(state.iterations()) * (kCodecBytes / kChunk));
    state.SetLabel(state.range(0) ? "all 18 hex" : "random");
}
BENCHMARK(BM_CodecEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CodecDecode(benchmark::State& state) {
    const std::string data = codecData(state.range(0) != 0);
    std::string wire;
    {
        TestSupport::ScriptedDevice out;
        CZModemCore core(&out, false);
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        for (std::size_t off = 0; off < data.size(); off += kChunk)
            core.sendData32(p + off, kChunk, CZModemCore::ZCRCG);
        wire = out.written();
    }
    // One input device and one core for all iterations: only the decoding is timed
    // (not copying the input or giving its 64 MiB back to the system).
    Base::MemoryDevice in(wire.data(), static_cast<long>(wire.size()));
    CZModemCore core(&in, false);
    for (auto _ : state) {
        state.PauseTiming();
        in.seek(0);
        state.ResumeTiming();
        std::size_t got = 0;
        for (std::size_t k = 0; k < data.size() / kChunk; ++k) {
            core.getDataBuffer().clear();
            if (core.getData() != ZModem::ZModemErrors::ResultFrameEnd + CZModemCore::ZCRCG) {
                state.SkipWithError("decode failed");
                break;
            }
            got += core.getDataBuffer().size();
        }
        if (got != data.size()) state.SkipWithError("short decode");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    state.SetLabel(state.range(0) ? "all 18 hex" : "random");
}
BENCHMARK(BM_CodecDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- transfers

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct TransferDir {
    TestSupport::TempDir dir;
    std::string send, recv;
    explicit TransferDir(std::size_t bytes) {
        send = dir.sub("send");
        recv = dir.sub("recv");
        TestSupport::writeFile(send + "/big.bin", TestSupport::randomBytes(bytes, 99));
    }
    void clearReceived() { std::filesystem::remove(recv + "/big.bin"); }
    bool receivedOk(std::size_t bytes) const {
        std::error_code ec;
        return std::filesystem::file_size(recv + "/big.bin", ec) == bytes;
    }
};

// sz -> rz, both as processes on one socket pair; seconds, or -1.
double szToRz(TransferDir& t) {
    TestSupport::SocketPair pair;
    auto start = std::chrono::steady_clock::now();
    TestSupport::ChildProcess rz({"rz", "-q"}, {t.recv, pair.fd[1], pair.fd[1], t.dir.file("rz.err")});
    TestSupport::ChildProcess sz({"sz", "-q", "big.bin"}, {t.send, pair.fd[0], pair.fd[0], t.dir.file("sz.err")});
    ::close(pair.take(0));
    ::close(pair.take(1));
    int a = sz.wait(120000), b = rz.wait(120000);
    double s = seconds(start);
    return a == 0 && b == 0 ? s : -1;
}

// sz -> our rec_z.
double szToOurs(TransferDir& t) {
    TestSupport::SocketPair pair;
    TestSupport::DescriptorDevice device(pair.take(0), true);
    auto start = std::chrono::steady_clock::now();
    TestSupport::ChildProcess sz({"sz", "-q", "big.bin"}, {t.send, pair.fd[1], pair.fd[1], t.dir.file("sz.err")});
    ::close(pair.take(1));
    CZModem session(&device);
    session.set_path(t.recv.c_str());
    int r = session.rec_z(1);
    device.close();
    int a = sz.wait(120000);
    double s = seconds(start);
    return r == 0 && a == 0 ? s : -1;
}

// our sendez -> rz.
double oursToRz(TransferDir& t) {
    TestSupport::SocketPair pair;
    TestSupport::DescriptorDevice device(pair.take(0), true);
    auto start = std::chrono::steady_clock::now();
    TestSupport::ChildProcess rz({"rz", "-q"}, {t.recv, pair.fd[1], pair.fd[1], t.dir.file("rz.err")});
    ::close(pair.take(1));
    CZModem session(&device);
    session.set_path(t.send.c_str());
    int r = session.sendez("big.bin", 0, 0);
    device.close();
    int a = rz.wait(120000);
    double s = seconds(start);
    return r == 0 && a == 0 ? s : -1;
}

// our sendez -> our rec_z on two threads.
double oursToOurs(TransferDir& t) {
    TestSupport::SocketPair pair;
    TestSupport::DescriptorDevice a(pair.take(0), true), b(pair.take(1), true);
    int received = -2;
    auto start = std::chrono::steady_clock::now();
    std::thread receiver([&] {
        CZModem session(&b);
        session.set_path(t.recv.c_str());
        received = session.rec_z(1);
    });
    CZModem session(&a);
    session.set_path(t.send.c_str());
    int r = session.sendez("big.bin", 0, 0);
    receiver.join();
    double s = seconds(start);
    return r == 0 && received == 0 ? s : -1;
}

// Round trip over a socket pair of what one stop-and-wait step moves (a
// ZDATA header with a 1 KiB subpacket out, a 20-byte ZACK back), without any
// protocol work: to another thread of this process, or to a child process
// (as rz is). Microseconds.
double roundTripMicros(bool toProcess) {
    TestSupport::SocketPair pair;
    constexpr int kRounds = 5000;
    constexpr int kOut = 1044;
    auto echo = [](int fd) {
        char c[2048];
        for (int i = 0; i < kRounds; ++i) {
            long got = 0;
            while (got < kOut) {
                long n = ::read(fd, c, sizeof(c));
                if (n <= 0) return;
                got += n;
            }
            if (::write(fd, c, 20) != 20) return;
        }
    };
    pid_t child = -1;
    std::thread peer;
    if (toProcess) {
        child = ::fork();
        if (child == 0) {
            echo(pair.fd[1]);
            ::_exit(0);
        }
    } else {
        peer = std::thread(echo, pair.fd[1]);
    }
    char buf[2048] = {};
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        if (::write(pair.fd[0], buf, kOut) != kOut) break;
        if (::read(pair.fd[0], buf, 64) <= 0) break;
    }
    double s = seconds(start);
    if (toProcess) {
        int status = 0;
        ::waitpid(child, &status, 0);
    } else {
        peer.join();
    }
    return s * 1e6 / kRounds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool haveLrzsz(benchmark::State& state) {
    if (TestSupport::findProgram("sz").empty() || TestSupport::findProgram("rz").empty()) {
        state.SkipWithError("sz / rz not on PATH (Debian package lrzsz)");
        return false;
    }
    return true;
}

// 64 MiB random, sz into rz and into our rec_z, runs alternating.
void BM_TransferSzReceivers(benchmark::State& state) {
    if (!haveLrzsz(state)) return;
    constexpr std::size_t kBytes = 64u << 20;
    TransferDir t(kBytes);
    std::vector<double> ours, rz;
    for (auto _ : state) {
        for (int round = 0; round < 3; ++round) {
            t.clearReceived();
            double a = szToOurs(t);
            if (a < 0 || !t.receivedOk(kBytes)) return state.SkipWithError("sz -> rec_z failed");
            ours.push_back(kBytes / a / 1e6);
            t.clearReceived();
            double b = szToRz(t);
            if (b < 0 || !t.receivedOk(kBytes)) return state.SkipWithError("sz -> rz failed");
            rz.push_back(kBytes / b / 1e6);
        }
    }
    state.counters["sz_to_rec_z_MBps"] = median(ours);
    state.counters["sz_to_rz_MBps"] = median(rz);
}
BENCHMARK(BM_TransferSzReceivers)->Iterations(1)->Unit(benchmark::kMillisecond);

// 16 MiB random from our stop-and-wait sender, to our receiver and to rz,
// beside the bound of 1024 bytes per measured round trip.
void BM_TransferOurSender(benchmark::State& state) {
    if (!haveLrzsz(state)) return;
    constexpr std::size_t kBytes = 16u << 20;
    TransferDir t(kBytes);
    std::vector<double> toOurs, toRz, rttThread, rttProcess;
    for (auto _ : state) {
        for (int round = 0; round < 3; ++round) {
            // The round trips are measured between the runs: the machine's load changes.
            rttThread.push_back(roundTripMicros(false));
            rttProcess.push_back(roundTripMicros(true));
            t.clearReceived();
            double a = oursToOurs(t);
            if (a < 0 || !t.receivedOk(kBytes)) return state.SkipWithError("sendez -> rec_z failed");
            toOurs.push_back(kBytes / a / 1e6);
            t.clearReceived();
            double b = oursToRz(t);
            if (b < 0 || !t.receivedOk(kBytes)) return state.SkipWithError("sendez -> rz failed");
            toRz.push_back(kBytes / b / 1e6);
        }
    }
    double thread = median(rttThread), process = median(rttProcess);
    state.counters["sendez_to_rec_z_MBps"] = median(toOurs);
    state.counters["rtt_thread_us"] = thread;
    state.counters["bound_thread_MBps"] = 1024.0 / thread;
    state.counters["sendez_to_rz_MBps"] = median(toRz);
    state.counters["rtt_process_us"] = process;
    state.counters["bound_process_MBps"] = 1024.0 / process;
}
BENCHMARK(BM_TransferOurSender)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
