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

using TestSupport::bytes;
Bytes wire(std::uint8_t pcb) { return T1Peer::encode(0x12, pcb, {}); }

}  // namespace

TEST(ProtocolRecovery, RecoverableFaultsEndInAnIntactFrame) {
    using Faults = TestSupport::ScriptedDevice;
    const Bytes longRequest = bytes(600, 8);  // three blocks out: writes 0, 1, 2
    const unsigned int timeout = Base::TimeoutException::Code;
    // The node answers with a chain of three blocks (inbound units 0, 1, 2): unit 1 is mid-chain.
    // clang-format off
    // logged: the error codes logged; sent: blocks the host sends in this order; resent: a host write that must go
    // out twice (the first one, when none is named, goes out once). Faults while sending cost receive no budget.
    const struct { const char* name; std::function<void(Faults&)> fault; unsigned int recoveries = 0;
                   std::vector<unsigned int> logged = {}; std::vector<Bytes> sent = {}; bool extended = false;
                   Bytes request = {1, 2, 3}; int resent = -1; } cases[] = {
        {.name = "flipped bit", .fault = [](Faults& f) { f.flipInboundBit(1, 9, 3); }, .recoveries = 1, .logged = {3847}, .sent = {wire(0x91)}},
        {.name = "flipped bit, extended", .fault = [](Faults& f) { f.flipInboundBit(1, 9, 3); }, .recoveries = 1, .logged = {3847},
         .sent = {wire(0x91)}, .extended = true},
        {.name = "dropped byte: time-out sent as 2", .fault = [](Faults& f) { f.dropInboundByte(1, 20); }, .recoveries = 1,
         .logged = {timeout}, .sent = {wire(0x92)}},
        // One time-out, then the node's repetition of the late block costs the second unit (no RESYNCH).
        {.name = "late block, repetition dropped", .fault = [](Faults& f) { f.holdInbound(1, 1); }, .recoveries = 2,
         .logged = {timeout}, .sent = {wire(0x92), wire(0x80)}},
        {.name = "second fault in a row", .fault = [](Faults& f) { f.holdInbound(1, 2); }, .recoveries = 2,
         .logged = {timeout, timeout}, .sent = {wire(0x92), wire(0xC0)}},
        {.name = "repeated I-block", .fault = [](Faults& f) { f.repeatInbound(1); }, .recoveries = 1, .sent = {wire(0x90), wire(0x80)}},
        {.name = "block from another node", .fault = [](Faults& f) { f.injectInbound(1, T1Peer::encode(0x13, T1Peer::informationPcb(1, true), {9, 9, 9})); },
         .recoveries = 2, .logged = {3848}, .sent = {wire(0x92)}},
        {.name = "RESYNCH request from the node", .fault = [](Faults& f) { f.injectInbound(1, wire(0xC0)); }, .recoveries = 0, .sent = {wire(0xE0)}},
        {.name = "lost acknowledgement: R(1) again with the time-out", .fault = [](Faults& f) { f.dropOutbound(1); }, .recoveries = 1,
         .logged = {timeout}, .sent = {wire(0x90), wire(0x92)}},
        {.name = "flipped bit to the node", .fault = [](Faults& f) { f.flipOutboundBit(1, 30, 0); }, .request = longRequest, .resent = 1},
        {.name = "dropped byte to the node", .fault = [](Faults& f) { f.dropOutboundByte(1, 30); }, .request = longRequest, .resent = 1},
        {.name = "lost block: no confirmation in time", .fault = [](Faults& f) { f.dropOutbound(0); }, .logged = {timeout},
         .sent = {wire(0x82)}, .request = longRequest, .resent = 0},
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
        c.fault(link.faults());
        unsigned int recoveries = 99;
        protocol.send(T1::Frame(T1::NodeAddress(0x12), Base::ByteArray(c.request.data(), c.request.size())));
        T1::Frame frame = protocol.receive(T1::NodeAddress(0x12), {.recoveries = &recoveries});
        link.finish();
        EXPECT_EQ(frame.getData(), Base::ByteArray(bytes(600, 4).data(), 600));
        EXPECT_EQ(received, std::vector<Bytes>{c.request});
        EXPECT_EQ(frame.getAddress().getNode(), 0x12) << "the first block's node stays the frame's";
        EXPECT_EQ(recoveries, c.recoveries);
        EXPECT_EQ(logger.errors(), c.logged);
        EXPECT_EQ(logger.badLevels(0), 0) << "errors are logged at level 0";
        const auto out = link.outbound();
        EXPECT_TRUE(std::search(out.begin(), out.end(), c.sent.begin(), c.sent.end()) != out.end());
        EXPECT_EQ(std::count(out.begin(), out.end(), out.at(std::max(c.resent, 0))), c.resent < 0 ? 1 : 2);
        for (const auto& entry : logger.records()) {
            if (entry.kind != 'a') continue;  // damaged bytes, logged with the protocol's number and level
            EXPECT_EQ(entry.id, 77u);
            EXPECT_EQ(entry.level, 3);
            EXPECT_FALSE(entry.bytes.empty());
        }
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
        if (resynch) {
            EXPECT_EQ(link.node().received().at(1).pcb, 0xE0) << "RESYNCH answered with a response";
        }
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
