#include <varonet/t1/Protocol.h>

#include <gtest/gtest.h>

#include "support/TestCalls.h"

#include <algorithm>
#include <functional>

#include <varonet/base/Exception.h>
#include <varonet/base/MemoryDevice.h>
#include "support/T1NodeLink.h"
#include "support/RecordingLogger.h"
#include <varonet/t1/ReceiveReadyBlock.h>
#include <varonet/t1/T1Errors.h>

// Every recovery path of the exchange, driven by faults injected between the
// protocol and the independent node. After each recoverable fault the frame
// must still arrive intact.

using T1Peer::Bytes;

namespace {

using TestSupport::codeOf;

constexpr unsigned int BlockWait = 500;  // ms; every injected time-out costs one of these
constexpr unsigned int CharWait = 100;
constexpr unsigned int LogId = 77;
constexpr unsigned int LogLevel = 3;

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 29 + seed * 11 + (i >> 8)) & 0xFF);
    return b;
}
Base::ByteArray toArray(const Bytes& b) { return Base::ByteArray(b.data(), b.size()); }
Bytes toBytes(const Base::ByteArray& a) { return Bytes(a.data(), a.data() + a.size()); }
Bytes wire(std::uint8_t nad, std::uint8_t pcb) { return T1Peer::encode(nad, pcb, {}); }

// A request of one block; the node answers with a chain of three blocks
// (inbound blocks 0, 1, 2), so inbound block 1 is in the middle of a chain.
struct Exchange {
    explicit Exchange(std::size_t chunk = 254, bool extended = false, Bytes request = {1, 2, 3}) : mRequest(std::move(request)) {
        link.start([this, chunk, extended](T1Peer::T1Node& node) {
            node.serve(
                [this](const Bytes& r) {
                    mReceived.push_back(r);
                    return answer();
                },
                chunk, extended);
        });
    }
    Bytes answer() const { return pattern(600, 4); }
    T1::Frame run(unsigned int* recoveries = nullptr) {
        protocol.send(T1::Frame(T1::NodeAddress(0x12), toArray(mRequest)));
        T1::Frame frame = protocol.receive(T1::NodeAddress(0x12), recoveries, false, true);
        link.finish();
        return frame;
    }
    bool outboundContains(const Bytes& block) {
        const auto& out = link.outbound();
        return std::find(out.begin(), out.end(), block) != out.end();
    }
    void expectIntact(const T1::Frame& frame) {
        EXPECT_EQ(toBytes(frame.getData()), answer());
        ASSERT_EQ(mReceived.size(), 1u);
        EXPECT_EQ(mReceived[0], mRequest);
    }

    TestSupport::T1NodeLink link;
    TestSupport::RecordingLogger logger;
    T1::Protocol protocol{&link.faults(), BlockWait, CharWait, 0, LogId, LogLevel, &logger};
    Bytes mRequest;
    std::vector<Bytes> mReceived;
};

}  // namespace

// One recoverable fault per case: the frame still arrives intact, the
// recovery count and the logged codes are as given, the host sends `sends`.
struct RecoverableFault {
    const char* name;
    std::function<void(TestSupport::ScriptedDevice&)> inject;
    int recoveries;  // -1: not checked
    std::vector<unsigned int> errorsLogged;
    Bytes sends;
    std::function<void(Exchange&, const std::vector<Bytes>&)> check = nullptr;
    bool extended = false;
    Bytes request = {1, 2, 3};  // pattern(600, 8) goes out as three blocks: writes 0, 1, 2
};

TEST(ProtocolRecovery, RecoverableFaultsEndInAnIntactFrame) {
    const Bytes rTimeout = wire(0x12, 0x92), resynch = wire(0x12, 0xC0), request3 = pattern(600, 8);
    const unsigned int timeout = Base::TimeoutException::Code;
    const auto loggedBytes = [](Exchange& x, const std::vector<Bytes>&) {
        const auto entries = x.logger.records();  // the code, then the damaged bytes
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].kind, 'a');
        EXPECT_EQ(entries[1].id, LogId);
        EXPECT_EQ(entries[1].level, int(LogLevel));
        EXPECT_FALSE(entries[1].bytes.empty());
    };
    const auto nodeAskedAgain = [](Exchange& x, const std::vector<Bytes>& out) {
        ASSERT_GE(out.size(), 3u);
        EXPECT_EQ(out[2], out[1]) << "the second block went out again";
        EXPECT_EQ(x.link.node().damagedCount(), 1);
    };
    const RecoverableFault cases[] = {
        {"flipped bit, short form", [](TestSupport::ScriptedDevice& f) { f.flipInboundBit(1, 9, 3); }, 1, {3847}, wire(0x12, 0x91),
         loggedBytes},
        {"flipped bit, extended form", [](TestSupport::ScriptedDevice& f) { f.flipInboundBit(1, 9, 3); }, 1, {3847}, wire(0x12, 0x91),
         loggedBytes, true},
        {"dropped byte: time-out sent as 2", [](TestSupport::ScriptedDevice& f) { f.dropInboundByte(1, 20); }, 1, {timeout}, rTimeout},
        // One time-out, then the node's repetition of the late block costs the second unit.
        {"late block, repetition dropped", [](TestSupport::ScriptedDevice& f) { f.holdInbound(1, 1); }, 2, {}, rTimeout,
         [&](Exchange& x, const std::vector<Bytes>&) { EXPECT_FALSE(x.outboundContains(resynch)); }},
        {"second fault in a row", [](TestSupport::ScriptedDevice& f) { f.holdInbound(1, 2); }, 2, {}, rTimeout,
         [&](Exchange&, const std::vector<Bytes>& out) {
             const auto r = std::find(out.begin(), out.end(), rTimeout);
             ASSERT_TRUE(r != out.end() && r + 1 != out.end());
             EXPECT_EQ(*(r + 1), resynch) << "first fault: R-block, second: RESYNCH request";
         }},
        {"repeated I-block", [](TestSupport::ScriptedDevice& f) { f.repeatInbound(1); }, 1, {}, {},
         [](Exchange&, const std::vector<Bytes>& out) { EXPECT_EQ(out.size(), 3u) << "two acknowledgements, one request"; }},
        {"block from another node",
         [](TestSupport::ScriptedDevice& f) { f.injectInbound(1, T1Peer::encode(0x13, T1Peer::informationPcb(1, true), {9, 9, 9})); },
         2, {3848}, rTimeout},
        {"RESYNCH request from the node", [](TestSupport::ScriptedDevice& f) { f.injectInbound(1, wire(0x12, 0xC0)); }, 0, {},
         wire(0x12, 0xE0)},
        {"flipped bit to the node", [](TestSupport::ScriptedDevice& f) { f.flipOutboundBit(1, 30, 0); }, -1, {}, {}, nodeAskedAgain,
         false, request3},
        {"dropped byte to the node", [](TestSupport::ScriptedDevice& f) { f.dropOutboundByte(1, 30); }, -1, {}, {}, nodeAskedAgain,
         false, request3},
        {"lost acknowledgement", [](TestSupport::ScriptedDevice& f) { f.dropOutbound(1); }, 1, {}, {},
         [&](Exchange&, const std::vector<Bytes>& out) { EXPECT_EQ(out[2], rTimeout) << "R(1) again, with the time-out"; }},
        {"lost block", [](TestSupport::ScriptedDevice& f) { f.dropOutbound(0); }, -1, {}, {},
         [](Exchange&, const std::vector<Bytes>& out) {
             ASSERT_GE(out.size(), 3u);
             EXPECT_EQ(out[1], wire(0x12, 0x82)) << "no confirmation within the waiting time";
             EXPECT_EQ(out[2], out[0]) << "the node's R(0) brings the first block again";
         },
         false, request3},
    };
    for (const RecoverableFault& c : cases) {
        SCOPED_TRACE(c.name);
        Exchange x(254, c.extended, c.request);
        c.inject(x.link.faults());
        unsigned int recoveries = 99;
        T1::Frame frame = x.run(&recoveries);
        x.expectIntact(frame);
        EXPECT_EQ(frame.getAddress().getNode(), 0x12) << "the first block's node stays the frame's";
        EXPECT_TRUE(c.recoveries < 0 || recoveries == unsigned(c.recoveries)) << recoveries;
        EXPECT_TRUE(c.errorsLogged.empty() || x.logger.errors() == c.errorsLogged);
        EXPECT_TRUE(c.sends.empty() || x.outboundContains(c.sends));
        if (c.check) c.check(x, x.link.outbound());
    }
}

// ---- what cannot be recovered ------------------------------------------------

TEST(ProtocolRecovery, SilentNodeGetsRThenResynchThen3842) {
    TestSupport::T1NodeLink link;
    link.start([](T1Peer::T1Node& node) {
        T1Peer::WireBlock block;
        for (int i = 0; i < 4 && node.readBlock(block, 5000) == T1Peer::T1Node::ReadStatus::Block;) ++i;
    });
    TestSupport::RecordingLogger logger;
    T1::Protocol protocol(&link.faults(), 60, 20, 0, LogId, LogLevel, &logger);
    unsigned int recoveries = 77;
    EXPECT_EQ(codeOf([&] { protocol.receive(T1::NodeAddress(0x12), &recoveries, false, true); }), 3842u);
    link.finish();
    EXPECT_EQ(recoveries, 77u) << "not written when the call throws";
    ASSERT_EQ(link.node().received().size(), 2u);
    EXPECT_EQ(link.node().received()[0].pcb, 0x82);
    EXPECT_EQ(link.node().received()[1].pcb, 0xC0);
    EXPECT_EQ(logger.errors().size(), 3u);
}

TEST(ProtocolRecovery, SilentOrDamagedFirstBlockWithoutRecoveryOrAddress) {
    // Without recovery the first time-out is 3842; without a valid address
    // there is no node to answer: 3840. Nothing goes on the wire.
    const struct { T1::NodeAddress address; bool recover; bool damagedBlock; unsigned int code; } cases[] = {
        {T1::NodeAddress(0x12), false, false, 3842}, {T1::NodeAddress(), true, false, 3840},
        {T1::NodeAddress(), true, true, 3840}};
    for (const auto& c : cases) {
        TestSupport::T1NodeLink link;
        if (c.damagedBlock) {
            link.faults().flipInboundBit(0, 4, 1);
            link.start([](T1Peer::T1Node& node) { node.writeBlock(T1Peer::informationPcb(0, false), {1, 2, 3, 4}); });
        }
        T1::Protocol protocol(&link.faults(), 60, 20, 0, LogId, LogLevel, nullptr);
        EXPECT_EQ(codeOf([&] { protocol.receive(c.address, nullptr, false, c.recover); }), c.code);
        EXPECT_TRUE(link.outbound().empty());
    }
}

// A resend request for a block no longer stored (after reset, or after a
// RESYNCH the host answered) ends in 3843 with the pending input discarded.
TEST(ProtocolRecovery, ResendRequestForAnEmptySlotDiscardsInputAnd3843) {
    for (bool resynch : {false, true}) {
        SCOPED_TRACE(resynch ? "after RESYNCH" : "after reset");
        TestSupport::T1NodeLink link;
        link.start([resynch](T1Peer::T1Node& node) {
            T1Peer::WireBlock block;
            if (node.readBlock(block, 5000) != T1Peer::T1Node::ReadStatus::Block) return;
            if (resynch) {
                node.writeBlock(T1Peer::supervisoryPcb(false, 0));
                if (node.readBlock(block, 5000) != T1Peer::T1Node::ReadStatus::Block) return;
            }
            Bytes reply = T1Peer::encode(0x12, T1Peer::receiveReadyPcb(0, 0), {});  // "send block 0 again"
            const Bytes junk{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02};
            reply.insert(reply.end(), junk.begin(), junk.end());
            node.writeRaw(reply);
            node.readBlock(block, 300);  // a resent block, if any
        });
        T1::Protocol protocol(&link.plain(), 300, 50, 0, LogId, LogLevel, nullptr);
        protocol.send(T1::Frame(T1::NodeAddress(0x12), toArray({5, 6, 7})));
        if (!resynch) protocol.reset();
        EXPECT_EQ(codeOf([&] { protocol.receive(T1::NodeAddress(0x12), nullptr, false, true); }), 3843u);
        EXPECT_EQ(link.plain().size(), 0) << "pending input was discarded";
        link.finish();
        if (resynch) {
            ASSERT_GE(link.node().received().size(), 2u);
            EXPECT_EQ(link.node().received()[1].pcb, 0xE0) << "RESYNCH answered with a response";
        }
    }
}

// ---- the budget rules, step by step -------------------------------------------

namespace {
class ProtocolSteps : public T1::Protocol {
public:
    explicit ProtocolSteps(IO::Device* device) : T1::Protocol(device, 10, 10, 0, 0, 0, nullptr) {}
    using T1::Protocol::handleError;
};
}  // namespace

TEST(ProtocolRecovery, HandleErrorFollowsTheBudget) {
    struct Case {
        std::uint32_t error;
        unsigned int budget;
        bool valid;
        unsigned int thrown;
        Bytes written;
        unsigned int budgetAfter;
    };
    const Case cases[] = {
        {0, 2, true, 0, wire(0x12, 0x80), 2},        // acknowledgement: never costs budget
        {0, 0, true, 0, wire(0x12, 0x80), 0},        // ...and is sent even without budget
        {1, 2, true, 0, wire(0x12, 0x81), 1},        // first fault: R-block with the code
        {3, 2, true, 0, wire(0x12, 0x82), 1},        // time-out: code 2 on the wire
        {2, 1, true, 0, wire(0x12, 0xC0), 0},        // second fault: RESYNCH request
        {3, 1, true, 0, wire(0x12, 0xC0), 0},
        {1, 0, true, 0, {}, 0},                      // no budget: no answer
        {3, 0, true, 3842, {}, 0},                   // no budget: a time-out ends the call
        {1, 2, false, 3840, {}, 2},                  // no node to answer
        {0, 0, false, 3840, {}, 0},
        {1, 1, false, 3841, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "error " << c.error << " budget " << c.budget << " valid " << c.valid);
        Base::MemoryDevice device;
        ProtocolSteps steps(&device);
        unsigned int budget = c.budget;
        const T1::NodeAddress address = c.valid ? T1::NodeAddress(0x12) : T1::NodeAddress();
        EXPECT_EQ(codeOf([&] { steps.handleError(c.error, address, budget); }), c.thrown);
        EXPECT_EQ(toBytes(device.getBuffer()), c.written);
        EXPECT_EQ(budget, c.budgetAfter);
    }
}
