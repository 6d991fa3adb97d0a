// Every recovery path of the exchange, driven by faults injected between the
// protocol and the independent node. After each recoverable fault the frame
// must still arrive intact.
#include <varonet/t1/Protocol.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <varonet/base/MemoryDevice.h>

#include "support/Files.h"
#include "support/RecordingLogger.h"
#include "support/T1NodeLink.h"
#include "support/TestCalls.h"

using T1Peer::Bytes;
using TestSupport::codeOf;

namespace {

Bytes bytes(std::size_t n, unsigned int seed) {
    std::string s = TestSupport::randomBytes(n, seed);
    return Bytes(s.begin(), s.end());
}
Bytes wire(std::uint8_t pcb) { return T1Peer::encode(0x12, pcb, {}); }

}  // namespace

TEST(ProtocolRecovery, RecoverableFaultsEndInAnIntactFrame) {
    using Faults = TestSupport::ScriptedDevice;
    const Bytes longRequest = bytes(600, 8);  // three blocks out: writes 0, 1, 2
    const unsigned int timeout = Base::TimeoutException::Code;
    // The node answers with a chain of three blocks (inbound units 0, 1, 2): unit 1 is mid-chain.
    // clang-format off
    // resent: a host write that must go out twice; recoveries -1: not checked.
    const struct { const char* name; std::function<void(Faults&)> inject; int recoveries;
                   std::vector<unsigned int> errorsLogged; std::vector<Bytes> sentInOrder; bool extended = false;
                   Bytes request = {1, 2, 3}; int resent = -1; } cases[] = {
        {"flipped bit", [](Faults& f) { f.flipInboundBit(1, 9, 3); }, 1, {3847}, {wire(0x91)}},
        {"flipped bit, extended", [](Faults& f) { f.flipInboundBit(1, 9, 3); }, 1, {3847}, {wire(0x91)}, true},
        {"dropped byte: time-out sent as 2", [](Faults& f) { f.dropInboundByte(1, 20); }, 1, {timeout}, {wire(0x92)}},
        // One time-out, then the node's repetition of the late block costs the second unit (no RESYNCH).
        {"late block, repetition dropped", [](Faults& f) { f.holdInbound(1, 1); }, 2, {timeout}, {wire(0x92), wire(0x80)}},
        {"second fault in a row", [](Faults& f) { f.holdInbound(1, 2); }, 2, {timeout, timeout}, {wire(0x92), wire(0xC0)}},
        {"repeated I-block", [](Faults& f) { f.repeatInbound(1); }, 1, {}, {wire(0x90), wire(0x80)}},
        {"block from another node",
         [](Faults& f) { f.injectInbound(1, T1Peer::encode(0x13, T1Peer::informationPcb(1, true), {9, 9, 9})); }, 2,
         {3848}, {wire(0x92)}},
        {"RESYNCH request from the node", [](Faults& f) { f.injectInbound(1, wire(0xC0)); }, 0, {}, {wire(0xE0)}},
        {"lost acknowledgement: R(1) again with the time-out", [](Faults& f) { f.dropOutbound(1); }, 1, {timeout}, {wire(0x90), wire(0x92)}},
        {"flipped bit to the node", [](Faults& f) { f.flipOutboundBit(1, 30, 0); }, -1, {}, {}, false, longRequest, 1},
        {"dropped byte to the node", [](Faults& f) { f.dropOutboundByte(1, 30); }, -1, {}, {}, false, longRequest, 1},
        {"lost block: no confirmation in time", [](Faults& f) { f.dropOutbound(0); }, -1, {timeout}, {wire(0x82)}, false, longRequest, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestSupport::T1NodeLink link;
        std::vector<Bytes> received;
        link.start([&](T1Peer::T1Node& node) {
            node.serve([&](const Bytes& r) { return received.push_back(r), bytes(600, 4); }, 254, c.extended);
        });
        TestSupport::RecordingLogger logger;
        // Each injected time-out costs 500 ms.
        T1::Protocol protocol(
            &link.faults(),
            {.blockWaitingTime = 500, .characterWaitingTime = 100, .logMessage = 77, .logLevel = 3, .logger = &logger});
        c.inject(link.faults());
        unsigned int recoveries = 99;
        protocol.send(T1::Frame(T1::NodeAddress(0x12), Base::ByteArray(c.request.data(), c.request.size())));
        T1::Frame frame = protocol.receive(T1::NodeAddress(0x12), {.recoveries = &recoveries});
        link.finish();
        EXPECT_EQ(frame.getData(), Base::ByteArray(bytes(600, 4).data(), 600));
        EXPECT_EQ(received, std::vector<Bytes>{c.request});
        EXPECT_EQ(frame.getAddress().getNode(), 0x12) << "the first block's node stays the frame's";
        EXPECT_TRUE(c.recoveries < 0 || recoveries == unsigned(c.recoveries)) << recoveries;
        EXPECT_TRUE(c.errorsLogged.empty() || logger.errors() == c.errorsLogged);
        EXPECT_EQ(logger.badLevels(0), 0) << "errors are logged at level 0";
        const auto out = link.outbound();
        const auto at = std::search(out.begin(), out.end(), c.sentInOrder.begin(), c.sentInOrder.end());
        EXPECT_TRUE(at != out.end() || c.sentInOrder.empty());
        EXPECT_TRUE(c.resent < 0 || std::count(out.begin(), out.end(), out.at(c.resent)) == 2)
            << "the node asked for it again";
        for (const auto& entry : logger.records())
            EXPECT_TRUE(entry.kind != 'a' || (entry.id == 77 && entry.level == 3 && !entry.bytes.empty()))
                << "damaged bytes logged";
    }
}

// A resend request for a block no longer stored (after reset, or after a
// RESYNCH the host answered) ends in 3843 with the pending input discarded.
TEST(ProtocolRecovery, ResendRequestForAnEmptySlotDiscardsInputAnd3843) {
    for (bool resynch : {false, true}) {
        TestSupport::T1NodeLink link;
        link.start([resynch](T1Peer::T1Node& node) {
            T1Peer::WireBlock block;
            node.readBlock(block, 5000);
            if (resynch) node.writeBlock(T1Peer::supervisoryPcb(false, 0)), node.readBlock(block, 5000);
            Bytes reply = wire(T1Peer::receiveReadyPcb(0, 0));  // "send block 0 again", then junk
            reply.insert(reply.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02});
            node.writeRaw(reply);
            node.readBlock(block, 300);  // a resent block, if any
        });
        T1::Protocol protocol(&link.plain(), {.blockWaitingTime = 300, .characterWaitingTime = 50});
        protocol.send(T1::Frame(T1::NodeAddress(0x12), Base::ByteArray{5, 6, 7}));
        if (!resynch) protocol.reset();
        EXPECT_EQ(codeOf([&] { protocol.receive(T1::NodeAddress(0x12)); }), 3843u) << resynch;
        EXPECT_EQ(link.plain().size(), 0) << "pending input was discarded";
        link.finish();
        EXPECT_TRUE(!resynch || link.node().received().at(1).pcb == 0xE0) << "RESYNCH answered with a response";
    }
}

TEST(ProtocolRecovery, HandleErrorFollowsTheBudget) {
    struct Steps : T1::Protocol {
        explicit Steps(IO::Device* device)
            : T1::Protocol(device, {.blockWaitingTime = 10, .characterWaitingTime = 10}) {}
        using T1::Protocol::handleError;
    };
    // clang-format off
    const struct { std::uint32_t error; unsigned int budget; bool valid; unsigned int thrown; Bytes written; unsigned int after; } cases[] = {
        {0, 2, true, 0, wire(0x80), 2}, {0, 0, true, 0, wire(0x80), 0},  // acknowledgement: costs no budget, sent even without
        {1, 2, true, 0, wire(0x81), 1}, {3, 2, true, 0, wire(0x82), 1},  // first fault: R-block with the code (time-out as 2)
        {2, 1, true, 0, wire(0xC0), 0}, {3, 1, true, 0, wire(0xC0), 0},  // second fault: RESYNCH request
        {1, 0, true, 0, {}, 0}, {3, 0, true, 3842, {}, 0},               // no budget: no answer, and a time-out ends the call
        {1, 2, false, 3840, {}, 2}, {0, 0, false, 3840, {}, 0}, {1, 1, false, 3841, {}, 1},  // no node to answer
    };
    // clang-format on
    for (const auto& c : cases) {
        Base::MemoryDevice device;
        Steps steps(&device);
        unsigned int budget = c.budget;
        EXPECT_EQ(
            codeOf([&] { steps.handleError(c.error, c.valid ? T1::NodeAddress(0x12) : T1::NodeAddress(), budget); }),
            c.thrown);
        EXPECT_EQ(device.getBuffer(), Base::ByteArray(c.written.data(), c.written.size()))
            << c.error << "/" << c.budget;
        EXPECT_EQ(budget, c.after) << c.error << "/" << c.budget;
    }
}
