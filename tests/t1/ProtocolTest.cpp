// The exchange against the independent node over a real socketpair or pty.
#include <varonet/t1/Protocol.h>

#include <gtest/gtest.h>

#include <functional>

#include <varonet/base/Exception.h>
#include <varonet/base/MemoryDevice.h>

#include "support/Files.h"
#include "support/T1NodeLink.h"

using T1Peer::Bytes;
using Kind = TestSupport::T1NodeLink::Kind;

namespace {

using TestSupport::array, TestSupport::bytes, TestSupport::toBytes;
Bytes answerFor(const Bytes& request) { return bytes(10240, static_cast<unsigned>(request.size())); }

// A node that records every request and answers it in blocks of chunk bytes; and the protocol over it.
struct Served {
    explicit Served(std::function<Bytes(const Bytes&)> answer, Kind kind = Kind::SocketPair, std::size_t chunk = 254,
                    bool extended = false)
        : link(0x12, kind) {
        link.start([=, this](T1Peer::T1Node& node) {
            node.serve([this, answer](const Bytes& r) { return requests.push_back(r), answer(r); }, chunk, extended);
        });
    }
    TestSupport::T1NodeLink link;
    std::vector<Bytes> requests;
    T1::Protocol protocol{&link.faults(), {.characterWaitingTime = 200, .logMessage = 7, .logLevel = 1}};
};

}  // namespace

class ProtocolExchangeOver : public testing::TestWithParam<Kind> {};

TEST_P(ProtocolExchangeOver, TenKiBEachWayInShortBlocksAndChunksFromAStreamInExtendedOnes) {
    Served s(answerFor, GetParam());
    const Bytes request = bytes(10240, 1);
    s.protocol.send(T1::Frame(T1::NodeAddress(0x12), array(request)));
    unsigned int recoveries = 99;
    T1::Frame answer =
        s.protocol.receive(T1::NodeAddress(), {.recoveries = &recoveries});  // the first block names the node
    EXPECT_EQ(toBytes(answer.getData()), answerFor(request));
    EXPECT_EQ(recoveries, 0u);
    EXPECT_EQ(answer.getAddress().getNode(), 0x12);
    EXPECT_TRUE(answer.getAddress().isValid());
    // 41 information blocks of at most 254 bytes out, 40 acknowledgements for the answer's 41 blocks.
    auto out = s.link.outbound();
    ASSERT_EQ(out.size(), 81u);
    for (std::size_t i = 0; i < 41; ++i) {
        EXPECT_EQ(out[i][1], (i % 2 ? 0x40 : 0x00) | (i < 40 ? 0x20 : 0x00)) << "PCB of block " << i;
        EXPECT_LE(out[i][2], 254) << "length of block " << i;
    }
    for (std::size_t i = 41; i < 81; ++i) EXPECT_EQ(out[i], T1Peer::encode(0x12, i % 2 ? 0x90 : 0x80, {})) << i;

    const Bytes streamed = bytes(2500, 3);
    Base::MemoryDevice source(reinterpret_cast<const char*>(streamed.data()), static_cast<long>(streamed.size()));
    source.close();  // send opens it
    testing::internal::CaptureStdout();
    s.protocol.send(T1::NodeAddress(0x12), &source, 1000, true);  // the form with the values in a row
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\rsent 1000\rsent 2000\rsent 2500");
    EXPECT_EQ(toBytes(s.protocol.receive(T1::NodeAddress(0x12)).getData()), answerFor(streamed));
    s.link.finish();
    EXPECT_EQ(s.requests, (std::vector<Bytes>{request, streamed}));
    out = s.link.outbound();
    for (std::size_t i = 81; i < 84; ++i) EXPECT_EQ(out.at(i)[2], 0xFF) << "chunk size 1000: extended form";
    EXPECT_EQ(out.at(83).size(), 7u + 500 + 2);
    EXPECT_EQ(s.link.node().damagedCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Link, ProtocolExchangeOver, testing::Values(Kind::SocketPair, Kind::Pty),
                         [](const auto& info) { return info.param == Kind::Pty ? "Pty" : "SocketPair"; });

// A copy carries every setting and owns copies of the stored blocks: each can
// answer a resend request on its own, and destroying all deletes nothing twice.
TEST(ProtocolSettings, CopiesCarryEverySettingAndTheirOwnStoredBlocks) {
    Base::MemoryDevice device;
    T1::Protocol protocol(&device, 100, 20, 5, 7, 1, nullptr);  // the values in a row go where their names say
    const T1::Protocol named(
        &device, {.blockWaitingTime = 100, .characterWaitingTime = 20, .userValue = 5, .logMessage = 7, .logLevel = 1});
    EXPECT_EQ(protocol.getSettings(), named.getSettings());
    EXPECT_EQ(protocol.setBlockWaitingTime(250), 100u);
    protocol.send(T1::Frame(T1::NodeAddress(0x12), array({1, 2, 3})));
    const Base::ByteArray sent = device.getBuffer();
    T1::Protocol copy(protocol);
    T1::Protocol assigned(&device, 1, 1, 0, 0, 0, nullptr);
    assigned = copy;
    EXPECT_EQ(copy.getSettings(), protocol.getSettings());
    EXPECT_EQ(assigned.getSettings(), protocol.getSettings());
    EXPECT_TRUE(protocol.getSettings().sendSequence) << "the position in the exchange is carried too";
    protocol.reset();
    for (T1::Protocol* p : {&copy, &assigned}) {
        device.clear();
        device.write("\x12\x80\x00\x92", 4);  // R(N(R)=0): send block 0 again
        device.seek(0);
        EXPECT_THROW(p->receive(T1::NodeAddress(0x12), nullptr, true, false), Base::Exception);  // then nothing more
        EXPECT_EQ(device.getBuffer().mid(4), sent);
    }
}
