// Throughput of the T=1 layer: blocks encoded and decoded through an
// in-memory device pair, the full exchange engine between two threads, and
// the LRC. The CRC is measured inside the extended blocks (chunks above 254).

#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

#include <varonet/base/ByteArray.h>
#include <varonet/base/CombinedDevice.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/t1/Block.h>
#include <varonet/t1/InformationBlock.h>
#include <varonet/t1/Protocol.h>

namespace {

constexpr std::size_t MiB = 1 << 20;

Base::ByteArray payload(std::size_t n) {
    Base::ByteArray data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    return data;
}

// Two FIFOs crossed: what one end writes the other reads.
struct DevicePair {
    Base::FifoDevice* toNode = new Base::FifoDevice(1000);
    Base::FifoDevice* toHost = new Base::FifoDevice(1000);
    IO::CombinedDevice host{toHost, toNode, true};
    IO::CombinedDevice node{toNode, toHost, false};
};

// 1 MiB of frame data cut into blocks of `chunk` bytes, each written by one
// end and read back by the other (chunk 254: short form; above: extended).
void BM_BlockEncodeDecode(benchmark::State& state) {
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));
    const Base::ByteArray data = payload(MiB);
    DevicePair pair;
    for (auto _ : state) {
        std::size_t received = 0;
        bool sequence = false;
        for (std::size_t at = 0; at < data.size(); at += chunk) {
            const std::size_t n = std::min(chunk, data.size() - at);
            T1::InformationBlock block(T1::NodeAddress(0x12), data.mid(at, n), sequence, at + n == data.size(),
                                       static_cast<std::uint32_t>(chunk));
            block.writeTo(&pair.host);
            std::unique_ptr<T1::Block> back(T1::Block::readBlock(&pair.node, 1000, 1000));
            received += back->getData().size();
            sequence = !sequence;
        }
        if (received != MiB) state.SkipWithError("lost bytes");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MiB));
}
BENCHMARK(BM_BlockEncodeDecode)->Arg(254)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);

// A 1 MiB frame sent by one protocol and received by another in a second
// thread, every block confirmed, plus a one-block answer.
void BM_ProtocolExchange(benchmark::State& state) {
    const unsigned int chunk = static_cast<unsigned int>(state.range(0));
    const Base::ByteArray data = payload(MiB);
    DevicePair pair;
    std::thread node([&pair] {
        T1::Protocol protocol(&pair.node, {.blockWaitingTime = 5000, .characterWaitingTime = 1000});
        for (;;) {
            T1::Frame frame = protocol.receive(T1::NodeAddress(0x12));
            protocol.send(T1::Frame(T1::NodeAddress(0x12), Base::ByteArray{'o', 'k'}));
            if (frame.getData().isEmpty()) return;
        }
    });
    T1::Protocol host(&pair.host, {.blockWaitingTime = 5000, .characterWaitingTime = 1000});
    for (auto _ : state) {
        Base::MemoryDevice source(data.chars(), static_cast<long>(data.size()));
        host.send(T1::NodeAddress(0x12), &source, {.chunkSize = chunk});
        if (host.receive(T1::NodeAddress(0x12)).getData().size() != 2) state.SkipWithError("no answer");
    }
    host.send(T1::Frame(T1::NodeAddress(0x12), Base::ByteArray()));
    host.receive(T1::NodeAddress(0x12));
    node.join();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MiB));
}
BENCHMARK(BM_ProtocolExchange)->Arg(254)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Lrc(benchmark::State& state) {
    const Base::ByteArray data = payload(MiB);
    for (auto _ : state) benchmark::DoNotOptimize(data.getEDC(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MiB));
}
BENCHMARK(BM_Lrc);

}  // namespace
