#include <varonet/t1/Protocol.h>

#include <gtest/gtest.h>

#include <functional>

#include <varonet/base/Exception.h>
#include <varonet/base/MemoryDevice.h>
#include "support/T1NodeLink.h"
#include <varonet/t1/T1Errors.h>

// The exchange against the independent node over a real socketpair or pty.

using T1Peer::Bytes;

namespace {

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return b;
}
Base::ByteArray toArray(const Bytes& b) { return Base::ByteArray(b.data(), b.size()); }
Bytes toBytes(const Base::ByteArray& a) { return Bytes(a.data(), a.data() + a.size()); }

// 10 KiB derived from the request's size.
Bytes answerFor(const Bytes& request) { return pattern(10240, static_cast<unsigned>(request.size())); }

// A node that records every request and answers it with answer(request)
// in blocks of chunk bytes; and the protocol over it.
struct Served {
    explicit Served(std::function<Bytes(const Bytes&)> answer, TestSupport::T1NodeLink::Kind kind = TestSupport::T1NodeLink::Kind::SocketPair,
                    std::size_t chunk = 254, bool extended = false)
        : link(0x12, kind) {
        link.start([this, answer, chunk, extended](T1Peer::T1Node& node) {
            node.serve(
                [this, answer](const Bytes& r) {
                    requests.push_back(r);
                    return answer(r);
                },
                chunk, extended);
        });
    }
    T1::Frame exchange(const Bytes& request) {
        protocol.send(T1::Frame(T1::NodeAddress(0x12), toArray(request)));
        return protocol.receive(T1::NodeAddress(0x12));
    }
    std::vector<Bytes> out() { return link.outbound(); }

    TestSupport::T1NodeLink link;
    std::vector<Bytes> requests;
    T1::Protocol protocol{&link.faults(), 1000, 200, 0, 7, 1, nullptr};
};

}  // namespace

class ProtocolExchangeOver : public testing::TestWithParam<TestSupport::T1NodeLink::Kind> {};

TEST_P(ProtocolExchangeOver, TenKiBEachWayAsShortFormChains) {
    Served s(answerFor, GetParam());
    const Bytes request = pattern(10240, 1);
    s.protocol.send(T1::Frame(T1::NodeAddress(0x12), toArray(request)));
    unsigned int recoveries = 99;
    // An invalid address takes the node of the first block.
    T1::Frame answer = s.protocol.receive(T1::NodeAddress(), &recoveries, false, true);
    s.link.finish();

    EXPECT_EQ(s.requests, std::vector<Bytes>{request});
    EXPECT_EQ(toBytes(answer.getData()), answerFor(request));
    EXPECT_EQ(answer.getAddress().getNode(), 0x12);
    EXPECT_TRUE(answer.getAddress().isValid());
    EXPECT_EQ(recoveries, 0u);
    // 41 information blocks of at most 254 bytes out, 40 acknowledgements for the answer's 41 blocks.
    const auto& out = s.out();
    ASSERT_EQ(out.size(), 81u);
    for (std::size_t i = 0; i < 41; ++i) {
        EXPECT_EQ(out[i][1], (i % 2 ? 0x40 : 0x00) | (i < 40 ? 0x20 : 0x00)) << i;
        EXPECT_LE(out[i][2], 254);
    }
    for (std::size_t i = 41; i < 81; ++i) {
        const std::uint8_t pcb = i % 2 ? 0x90 : 0x80;  // N(R) names the block expected next
        EXPECT_EQ(out[i], Bytes({0x12, pcb, 0x00, static_cast<std::uint8_t>(0x12 ^ pcb)})) << i;
    }
    EXPECT_EQ(s.link.node().damagedCount(), 0);
}

TEST_P(ProtocolExchangeOver, ExtendedChunksFromAStreamWithProgress) {
    Served s(answerFor, GetParam(), 1000, true);
    const Bytes request = pattern(2500, 3);
    Base::MemoryDevice source(reinterpret_cast<const char*>(request.data()), static_cast<long>(request.size()));
    source.close();  // send opens it
    testing::internal::CaptureStdout();
    s.protocol.send(T1::NodeAddress(0x12), &source, 1000, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\rsent 1000\rsent 2000\rsent 2500");
    EXPECT_EQ(toBytes(s.protocol.receive(T1::NodeAddress(0x12)).getData()), answerFor(request));
    s.link.finish();
    EXPECT_EQ(s.requests, std::vector<Bytes>{request});
    ASSERT_GE(s.out().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(s.out()[i][2], 0xFF) << "chunk size 1000: extended form";
    EXPECT_EQ(s.out()[2].size(), 7u + 500 + 2);
}

INSTANTIATE_TEST_SUITE_P(Link, ProtocolExchangeOver,
                         testing::Values(TestSupport::T1NodeLink::Kind::SocketPair, TestSupport::T1NodeLink::Kind::Pty),
                         [](const testing::TestParamInfo<TestSupport::T1NodeLink::Kind>& info) {
                             return info.param == TestSupport::T1NodeLink::Kind::Pty ? "Pty" : "SocketPair";
                         });

TEST(ProtocolExchange, EmptyFrameIsOneEmptyLastBlock) {
    Served s([](const Bytes&) { return Bytes(); });
    EXPECT_TRUE(s.exchange({}).getData().isEmpty());
    s.link.finish();
    EXPECT_EQ(s.out(), std::vector<Bytes>{Bytes({0x12, 0x00, 0x00, 0x12})});
}

TEST(ProtocolExchange, PartialReceiveHandsOutOneBlockAtATime) {
    Served s([](const Bytes&) { return pattern(600, 5); });
    s.protocol.send(T1::Frame(T1::NodeAddress(0x12), toArray({1, 2, 3})));
    Bytes joined;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 3; ++i) {
        const Bytes piece = toBytes(s.protocol.receive(T1::NodeAddress(0x12), nullptr, true, true).getData());
        sizes.push_back(piece.size());
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    s.link.finish();
    EXPECT_EQ(sizes, (std::vector<std::size_t>{254, 254, 92}));
    EXPECT_EQ(joined, pattern(600, 5));
}

TEST(ProtocolExchange, WithoutRecoveryAFaultlessReceiveReportsTwo) {
    Served s([](const Bytes& r) { return r; });
    s.protocol.send(T1::Frame(T1::NodeAddress(0x12), toArray(pattern(300, 9))));
    unsigned int recoveries = 0;
    EXPECT_EQ(toBytes(s.protocol.receive(T1::NodeAddress(0x12), &recoveries, false, false).getData()), pattern(300, 9));
    s.link.finish();
    EXPECT_EQ(recoveries, 2u);
}

// A copy owns copies of the stored blocks: each can answer a resend request
// on its own, and destroying all of them deletes nothing twice.
TEST(ProtocolSettings, CopiesKeepTheirOwnStoredBlocks) {
    Base::MemoryDevice device;
    T1::Protocol protocol(&device, 100, 20, 5, 7, 1, nullptr);
    EXPECT_EQ(protocol.setBlockWaitingTime(250), 100u);
    protocol.send(T1::Frame(T1::NodeAddress(0x12), toArray({1, 2, 3})));
    const Base::ByteArray sent = device.getBuffer();
    T1::Protocol copy(protocol);
    T1::Protocol assigned(&device, 1, 1, 0, 0, 0, nullptr);
    assigned = copy;
    protocol.reset();
    EXPECT_EQ(assigned.getBlockWaitingTime(), 250u);
    for (T1::Protocol* p : {&copy, &assigned}) {
        device.clear();
        const Bytes resend{0x12, 0x80, 0x00, 0x92};  // R(N(R)=0): send block 0 again
        device.write(reinterpret_cast<const char*>(resend.data()), 4);
        device.seek(0);
        // The R-block is read, block 0 is written after it, then the input is empty.
        EXPECT_THROW(p->receive(T1::NodeAddress(0x12), nullptr, true, false), Base::Exception);
        EXPECT_EQ(toBytes(device.getBuffer().mid(4)), toBytes(sent));
    }
}
