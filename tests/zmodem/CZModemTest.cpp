#include <varonet/zmodem/CZModem.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <thread>

#include <varonet/base/Exception.h>

#include "support/ByteRelay.h"
#include "support/Files.h"
#include "support/Process.h"
#include "zmodem/ZModemTestKit.h"

using ZModem::CZModem;
using namespace ZModemTestKit;
using E = ZModem::ZModemErrors;
using Damage = TestSupport::ByteRelay::Damage;

namespace {

// Records what a session tells about each file.
struct Outcomes : ZModem::TransferObserver {
    std::vector<std::string> lines;
    void fileFinished(const Base::String& name, Outcome outcome, int code) override {
        lines.push_back(name.str() + (outcome == Outcome::Sent      ? " sent"
                                      : outcome == Outcome::Skipped ? " skipped"
                                                                    : " failed " + std::to_string(code)));
    }
};

// One end of a session: our CZModem running run (on a thread, or in a forked
// child when fork is set), or an lrzsz program with its arguments.
struct End {
    std::function<int(CZModem&)> run;
    std::vector<std::string> program = {};
    bool fork = false;
};
End sz(std::vector<std::string> args) { return {nullptr, (args.insert(args.begin(), "sz"), args)}; }
End rz(std::vector<std::string> args = {"-q"}) { return {nullptr, (args.insert(args.begin(), "rz"), args)}; }
End sender(const std::string& name) {
    return {[name](CZModem& s) { return s.sendez(name.c_str(), 0, 0); }};
}
const End kReceiver{[](CZModem& s) { return s.rec_z(1); }};

// Damages one byte of the first frame in one direction (0: sender to
// receiver) that follows the marks in order ('\x01' stands for any frame end,
// h to k): the byte from + seed % (to - from) past the start of the last mark.
Damage damageAt(int direction, std::vector<std::string> marks, int from, int to, unsigned seed,
                std::shared_ptr<bool> placed) {
    auto seen = std::make_shared<std::string>();
    auto state = std::make_shared<std::array<long, 3>>(std::array<long, 3>{0, 0, -1});  // next, mark, target
    return [=](int side, char* bytes, std::size_t n) {
        if (side != direction) return;
        auto& [next, mark, target] = *state;
        const long start = static_cast<long>(seen->size());
        seen->append(bytes, n);
        auto matches = [&](std::size_t at, const std::string& m) {
            for (std::size_t k = 0; k < m.size(); ++k) {
                const char c = (*seen)[at + k];
                if (m[k] == '\x01' ? c < 'h' || c > 'k' : c != m[k]) return false;
            }
            return true;
        };
        for (; target < 0 && mark < static_cast<long>(marks.size()); ++mark) {
            const std::string& m = marks[static_cast<std::size_t>(mark)];
            std::size_t at = static_cast<std::size_t>(next);
            while (at + m.size() <= seen->size() && !matches(at, m)) ++at;
            if (at + m.size() > seen->size()) break;
            next = static_cast<long>(at + m.size());
            if (mark + 1 == static_cast<long>(marks.size()))
                target = std::max(start, static_cast<long>(at + from + seed % (to - from)));
        }
        if (target >= start && target < start + static_cast<long>(n)) {
            bytes[target - start] ^= static_cast<char>(1u << (seed % 8));
            *placed = true;
        }
    };
}

class ZModemSessions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::findProgram("sz").empty() || TestSupport::findProgram("rz").empty())
            << "sz / rz not on PATH: install the Debian package lrzsz";
    }
    std::string sendFile(const std::string& name, std::size_t size, unsigned seed) {
        std::string bytes = TestSupport::randomBytes(size, seed);
        TestSupport::writeFile(msSend + "/" + name, bytes);
        return bytes;
    }
    std::string received(const std::string& name) { return TestSupport::readFile(msRecv + "/" + name); }
    bool arrived(const std::string& name) { return received(name) == TestSupport::readFile(msSend + "/" + name); }

    // Runs from (in the send folder) against to (in the receive folder)
    // through a relay that applies damage; the results of both, and the
    // writes of our sender when asked for.
    std::pair<int, int> session(const End& from, const End& to, Damage damage = nullptr,
                                std::vector<std::string>* writes = nullptr) {
        TestSupport::SocketPair left, right;
        const int fds[2] = {left.take(0), right.take(1)};
        int results[2] = {-2, -2};
        auto ours = [&](int k) {
            TestSupport::ScriptedDescriptor line(fds[k]);
            CZModem session(&line);
            session.set_path((k ? msRecv : msSend).c_str());
            results[k] = (k ? to : from).run(session);
            if (k == 0 && writes) *writes = line.writes();
            return results[k];
        };
        // Children first, before any thread of this process runs: a child forked while
        // another thread holds a lock (the sanitizers' allocator) could wait for ever.
        std::unique_ptr<TestSupport::ChildProcess> children[2];
        for (int k = 0; k < 2; ++k) {
            const End& end = k ? to : from;
            if (end.run && !end.fork) continue;
            if (end.run) children[k] = std::make_unique<TestSupport::ChildProcess>([&ours, k] { return ours(k); });
            else
                children[k] = std::make_unique<TestSupport::ChildProcess>(
                    end.program, TestSupport::ChildProcess::Options{.directory = k ? msRecv : msSend,
                                                                    .stdinFd = fds[k],
                                                                    .stdoutFd = fds[k],
                                                                    .stderrPath = mDir.file("peer.err")});
            ::close(fds[k]);
        }
        TestSupport::ByteRelay relay(left.take(1), right.take(0), std::move(damage));
        std::vector<std::thread> threads;
        for (int k = 0; k < 2; ++k)
            if (!children[k]) threads.emplace_back(ours, k);
        for (auto& t : threads) t.join();
        for (int k = 0; k < 2; ++k)
            if (children[k]) results[k] = children[k]->wait(20000);
        return {results[0], results[1]};
    }
    // name through damage: 'o' ours to ours, 'r' ours to rz, 's' sz to ours;
    // true when both ended well and the file is byte-exact.
    bool delivered(char pairing, Damage damage, const std::string& name) {
        std::filesystem::remove(msRecv + "/" + name);
        auto r = session(pairing == 's' ? sz({"-q", name}) : sender(name), pairing == 'r' ? rz() : kReceiver,
                         std::move(damage));
        return r == std::make_pair(0, 0) && arrived(name);
    }

    TestSupport::TempDir mDir;
    std::string msSend = mDir.sub("send"), msRecv = mDir.sub("recv");
};

// ---------------------------------------------------------------- our sender and receiver, and lrzsz

// Each size takes the steps it should; a ZDATA header leaves in the same write as its subpacket.
TEST_F(ZModemSessions, FilesRoundTripWithTheExpectedSteps) {
    const std::pair<std::size_t, std::string> rows[] = {
        {0, "ZRQINIT ZFILE ZEOF:0 ZFIN"},
        {100, "ZRQINIT ZFILE ZDATA:0 ZEOF:100 ZFIN"},
        {1024, "ZRQINIT ZFILE ZDATA:0 ZEOF:1024 ZFIN"},
        {1025, "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZEOF:1025 ZFIN"},
        {5000, "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZDATA:2048 ZDATA:3072 ZDATA:4096 ZEOF:5000 ZFIN"}};
    for (const auto& [size, steps] : rows) {
        const std::string name = "f" + std::to_string(size);
        sendFile(name, size, 5);
        DebugLines lines;
        std::vector<std::string> writes;
        EXPECT_EQ(std::make_pair(0, 0), session(sender(name), kReceiver, nullptr, &writes));
        EXPECT_TRUE(arrived(name));
        std::string sent;
        for (const auto& w : writes) {
            const std::string h = headers(w);
            sent += h.empty() ? "" : " " + h;
            // the subpacket's end is in the header's write
            EXPECT_TRUE(h.rfind("ZDATA", 0) != 0 || w.find("\x18h") != w.npos || w.find("\x18k") != w.npos);
        }
        EXPECT_EQ(" " + steps, sent);
        EXPECT_EQ("rz\r**\030B0000000012", writes[0] + writes[1].substr(0, 14));  // ZRQINIT with ZCOMMAND
        EXPECT_EQ(static_cast<int>(size / 1024), lines.count("sent HexHeader ZACK\n"));
        EXPECT_EQ(1, lines.count("got Over'n'Out\n"));
    }
}

// Every size, and a file dense in the bytes the escaping is about, from sz
// with each option that changes the wire (8 KiB subpackets, escaping every
// control character announced with ZSINIT, a window of ZCRCQ subpackets) and
// to rz (also escaping every control character), each in one session.
// Several files to rz: one it has (-p keeps it), one missing (fails alone).
TEST_F(ZModemSessions, LrzszSessionsAreByteExact) {
    std::string special = TestSupport::randomBytes(200000, 51);
    for (int i = 0; i < 3000; ++i)
        special[static_cast<std::size_t>(i) * 7] = "\x18\x11\r@\x05\x91\x93\x90\x10\x8d"[i % 10];
    const std::pair<std::string, std::string> files[] = {{"empty.bin", ""},
                                                         {"hundred.bin", TestSupport::randomBytes(100, 1)},
                                                         {"block.bin", TestSupport::randomBytes(1024, 2)},
                                                         {"block1.bin", TestSupport::randomBytes(1025, 3)},
                                                         {"million.bin", TestSupport::randomBytes(1000000, 4)},
                                                         {"special.bin", special}};
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) TestSupport::writeFile(msSend + "/" + name, bytes), names.push_back(name);
    auto all = [&] {
        bool same = true;
        for (const auto& [name, bytes] : files) same = same && bytes == received(name);
        std::filesystem::remove_all(msRecv);
        std::filesystem::create_directory(msRecv);
        return same;
    };
    for (const auto& options :
         std::vector<std::vector<std::string>>{{}, {"-8"}, {"-e"}, {"-w", "8192"}, {"-e", "-8"}}) {
        std::vector<std::string> args = {"-q"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), names.begin(), names.end());
        EXPECT_EQ(std::make_pair(0, 0), session(sz(args), kReceiver));
        EXPECT_TRUE(all()) << args[1];
    }
    sendFile("have.bin", 2000, 68);
    for (const char* option : {"-p", "-e"}) {  // -p: rz keeps a file it has
        const bool keep = option[1] == 'p';
        if (keep) TestSupport::writeFile(msRecv + "/have.bin", "old");
        std::vector<Base::String> paths = {"have.bin", "none.bin", (msSend + "/million.bin").c_str()};
        std::vector<std::string> expected = {keep ? "have.bin skipped" : "have.bin sent", "none.bin failed -1",
                                             "million.bin sent"};
        for (const auto& name : names)
            if (name != "million.bin") paths.push_back(name.c_str()), expected.push_back(name + " sent");
        Outcomes seen;
        End ours{[&](CZModem& s) { return s.setObserver(&seen), s.sendFiles(paths); }};
        EXPECT_EQ(std::make_pair(static_cast<int>(E::ErrFile), 0), session(ours, rz({"-q", option})));
        EXPECT_EQ(keep ? "old" : TestSupport::readFile(msSend + "/have.bin"), received("have.bin"));
        EXPECT_EQ(expected, seen.lines);
        EXPECT_TRUE(all()) << option;
    }
    // rz resumes a partial file at the last whole KiB it has.
    TestSupport::writeFile(msRecv + "/special.bin", std::string(40000, 'Z'));
    DebugLines lines;
    EXPECT_EQ(std::make_pair(0, 0), session(sender("special.bin"), rz({"-q", "-r"})));
    EXPECT_EQ(1, lines.count("got ZRPOS 39936\n"));
    EXPECT_TRUE(std::string(39936, 'Z') + special.substr(39936) == received("special.bin"));
}

// ---------------------------------------------------------------- damage on the line

// One damaged byte (placed by a seed) in the first frame of each kind, in the
// direction it travels: both sides still end well and the file is byte-exact,
// ours to ours and with lrzsz on either side ('o', 'r', 's'). Waits that only
// a time-out ends: a damaged ZRQINIT or ZFILE header between our sender and
// receiver, until the receiver asks again (1 s); a damaged ZFILE header from
// sz, sz's own wait (6 s). The others recover at once.
TEST_F(ZModemSessions, OneDamagedByteInAnyFrameIsRecovered) {
    const struct {
        const char* kind;
        int direction;  // 0: sender to receiver
        std::vector<std::string> marks;
        int from, to;
        const char* pairings;
    } rows[] = {{"ZRQINIT", 0, {"**\030B00"}, 0, 21, "ors"},
                {"ZRINIT", 1, {"**\030B01"}, 0, 21, "ors"},
                {"ZFILE", 0, {"*\030C\004"}, 0, 12, "ors"},
                {"ZFILE subpacket", 0, {"fault.bin"}, 0, 14, "ors"},
                {"ZDATA", 0, {"*\030C\012"}, 0, 12, "ors"},
                {"data subpacket", 0, {"*\030C\012"}, 20, 900, "ors"},
                {"its CRC", 0, {"*\030C\012", "\030\001"}, 2, 6, "ors"},
                {"ZACK", 1, {"**\030B03"}, 0, 20, "or"},  // sz streams: no ZACK on a clean line
                {"ZRPOS", 1, {"**\030B09"}, 0, 21, "ors"},
                {"ZEOF", 0, {"*\030C\013"}, 0, 12, "ors"},
                {"ZFIN", 0, {"**\030B08"}, 0, 20, "ors"},
                {"ZFIN answer", 1, {"**\030B08"}, 0, 20, "ors"},
                {"OO", 0, {"**\030B08", "OO"}, 0, 2, "ors"}};
    sendFile("fault.bin", 3000, 71);
    unsigned seed = 1;
    for (const auto& row : rows) {
        for (const char* pairing = row.pairings; *pairing; ++pairing, seed += 7) {
            SCOPED_TRACE(std::string(row.kind) + " " + *pairing + " seed " + std::to_string(seed));
            auto placed = std::make_shared<bool>(false);
            EXPECT_TRUE(
                delivered(*pairing, damageAt(row.direction, row.marks, row.from, row.to, seed, placed), "fault.bin"));
            EXPECT_TRUE(*placed);
        }
    }
}

// One byte in ten thousand damaged both ways: the transfer still completes.
TEST_F(ZModemSessions, ANoisyLineStillDeliversTheFile) {
    sendFile("noisy.bin", 256 * 1024, 72);
    for (char pairing : {'o', 'r', 's'})
        EXPECT_TRUE(delivered(pairing, TestSupport::ByteRelay::noise(1e-4, 9), "noisy.bin")) << pairing;
}

// ---------------------------------------------------------------- peers that do the unexpected

// Our sender against receivers played from a script: whatever it sends, they
// answer with the next frames of the script, then fall silent.
TEST_F(ZModemSessions, SenderAgainstScriptedReceivers) {
    sendFile("s.bin", 100, 81);
    sendFile("m.bin", 3000, 82);
    const std::string rinit = frame(Core::ZRINIT, 0x23000000), fin = frame(Core::ZFIN);
    std::string silent = "ZRQINIT";
    for (int k = 0; k < 6; ++k) silent += " ZRQINIT";  // the first and one after each of six silences
    const struct {
        std::string file;
        int escapeAll;
        std::string script;
        int result;
        std::string sent;
    } rows[] = {
        // The offer refused once; ZRPOS after ZEOF; ZFERR during data.
        {"s.bin", 0, rinit + frame(Core::ZNAK) + frame(Core::ZRPOS) + rinit + fin, 0,
         "ZRQINIT ZFILE ZFILE ZDATA:0 ZEOF:100 ZFIN"},
        {"s.bin", 0, rinit + frame(Core::ZRPOS) + frame(Core::ZRPOS, 50) + rinit + fin, 0,
         "ZRQINIT ZFILE ZDATA:0 ZEOF:100 ZDATA:50 ZEOF:100 ZFIN"},
        {"m.bin", 0, rinit + frame(Core::ZRPOS) + frame(Core::ZFERR), E::ErrReceiverFileError,
         "ZRQINIT ZFILE ZDATA:0 CANCEL"},
        {"m.bin", 0, rinit + frame(Core::ZRPOS) + frame(Core::ZCAN), E::ErrCancelled, "ZRQINIT ZFILE ZDATA:0 CANCEL"},
        // Start-up: our ZRQINIT echoed, a challenge, a command, something else; a cancel; silence.
        {"s.bin", 0,
         frame(Core::ZRQINIT, 0x12000000) + frame(Core::ZCHALLENGE, 0x04030201) + frame(Core::ZCOMMAND) +
             frame(Core::ZSKIP) + rinit + frame(Core::ZSKIP) + fin,
         0, "ZRQINIT ZACK:67305985 ZRQINIT ZNAK ZFILE ZFIN"},
        {"s.bin", 0, frame(Core::ZCAN), E::ErrNoReceiver, "ZRQINIT CANCEL"},
        {"s.bin", 0, "", E::ErrNoReceiver, silent + " CANCEL"},
        // Escaping every control character is announced with ZSINIT, refused once.
        {"s.bin", 1, rinit + frame(Core::ZNAK) + frame(Core::ZACK) + frame(Core::ZRPOS) + rinit + fin, 0,
         "ZRQINIT ZSINIT ZSINIT ZFILE ZDATA:0 ZEOF:100 ZFIN"},
        // A file that is not there.
        {"none.bin", 0, rinit + fin, E::ErrFile, "ZRQINIT CANCEL"},
    };
    for (const auto& row : rows) {
        TestSupport::ScriptedDevice line(row.script);
        CZModem session(&line);
        session.set_path(msSend.c_str());
        session.setEscapeAll(row.escapeAll);
        EXPECT_EQ(row.result, session.sendez(row.file.c_str(), 0, 0)) << row.sent;
        EXPECT_EQ(row.sent, headers(line.written()));
    }
    // The bytes to send stop being readable midway: the send ends with a file error.
    struct Failing : Base::MemoryDevice {
        using MemoryDevice::MemoryDevice;
        int reads = 0;
        long readInternal(char* buffer, long n) override {
            if (++reads > 1) throw Base::Exception(0, ".", __LINE__, "gone");
            return MemoryDevice::readInternal(buffer, n);
        }
    } memory(std::string(5000, 'm').data(), 5000);
    TestSupport::ScriptedDevice line(frame(Core::ZACK, 1024));
    EXPECT_EQ(E::ErrFile, CZModem(&line).sendez(&memory));
    EXPECT_EQ("ZDATA:0", headers(line.written()));
}

// Our receiver against senders played from a script; an offered name is cut
// to its last part or refused: nothing lands outside the folder.
TEST_F(ZModemSessions, ReceiverAgainstScriptedSenders) {
    const std::string rqinit = frame(Core::ZRQINIT), fin = frame(Core::ZFIN) + "OO";
    auto offer = [&](const std::string& name, const std::string& size) {
        return "rz\r" + rqinit + frame(Core::ZFILE, 0, Core::ZBIN32) + sub(name + '\0' + size) +
               frame(Core::ZDATA, 0, Core::ZBIN32) + sub("hello", Core::ZCRCE) + frame(Core::ZEOF, 5, Core::ZBIN32) +
               fin;
    };
    const struct {
        std::string script;
        int result;
        std::string answers, command = "", landsAs = "";
    } rows[] = {
        {"rz\r" + rqinit + frame(Core::ZCAN), E::ErrCancelled, "ZRINIT CANCEL"},
        {rqinit + fin, 0, "ZRINIT ZFIN"},  // without "rz\r" the ZRQINIT starts the session
        {"rz\r" + rqinit + frame(Core::ZCOMMAND, 0, Core::ZBIN32) + sub(std::string("ls\0", 3)) + fin, 1,
         "ZRINIT ZCOMPL ZFIN", std::string("ls\0", 3)},
        {"hello ", E::ErrNoRz, ""},  // three silences without "rz\r"
        {offer("../evil.txt", "5"), 0, "ZRINIT ZRPOS:0 ZRINIT ZFIN", "", "evil.txt"},
        {offer("/tmp/abs/evil2.txt", "5"), 0, "ZRINIT ZRPOS:0 ZRINIT ZFIN", "", "evil2.txt"},
        {offer("a/b/../../../evil3.txt", "5"), 0, "ZRINIT ZRPOS:0 ZRINIT ZFIN", "", "evil3.txt"},
        {offer("..", "5"), -1, "ZRINIT CANCEL"},
        {offer(".", "5"), -1, "ZRINIT CANCEL"},
        {offer("dir/", "5"), -1, "ZRINIT CANCEL"},
        {offer("huge.bin", "3000000000"), E::ErrFileTooLarge,
         "ZRINIT ZSKIP ZRINIT ZFIN"},  // skipped, the session goes on
    };
    for (const auto& row : rows) {
        TestSupport::ScriptedDevice line(row.script);
        CZModem session(&line);
        session.set_path(msRecv.c_str());
        EXPECT_EQ(row.result, session.rec_z(3)) << row.answers;
        EXPECT_EQ(row.answers, headers(line.written()));
        if (row.script.find("*\030C\004") == std::string::npos) {
            EXPECT_EQ(row.command, session.getCmdStr().str());
        }
        if (!row.landsAs.empty()) {
            EXPECT_EQ("hello", received(row.landsAs));
        }
    }
    std::size_t outside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(mDir.path())) outside += entry.is_regular_file();
    EXPECT_EQ(0u, outside);
}

// Commands: ours to rz (Debian's rz answers ZCOMPL without running it), sz
// to ours, ours to ours, and the exit status a receiver puts in ZCOMPL.
TEST_F(ZModemSessions, CommandsReachTheReceiver) {
    const std::string command = "touch made-by-command";
    auto [status, rzStatus] =
        session({[&](CZModem& s) { return s.sendez(command.c_str(), 1, int(command.size()) + 1); }}, rz({"-v", "-C"}));
    EXPECT_TRUE(status >= 0 && status < 256 && rzStatus == 0) << status;
    EXPECT_NE(std::string::npos, TestSupport::readFile(mDir.file("peer.err")).find(command));
    std::string got;
    End keep{[&](CZModem& s) {
        int r = s.rec_z(1);
        got = s.getCmdStr().str();
        return r;
    }};
    EXPECT_EQ(std::make_pair(0, 1), session(sz({"-q", "-c", "echo hello"}), keep));
    EXPECT_EQ("echo hello", got.substr(0, 10));
    EXPECT_EQ(std::make_pair(0, 1), session({[](CZModem& s) { return s.sendez("ls -l", 1, 6); }}, keep));
    EXPECT_EQ(std::string("ls -l\0", 6), got);
    TestSupport::ScriptedDevice line(frame(Core::ZRINIT, 0x23000000) + frame(Core::ZCOMPL, 5u << 24) +
                                     frame(Core::ZFIN));
    EXPECT_EQ(5, CZModem(&line).sendez("make", 1, 4));
    EXPECT_EQ("ZRQINIT ZCOMMAND ZFIN", headers(line.written()));
}

// ---------------------------------------------------------------- files that exist, fail or are too large

// sz a b c d into one receiving session under each existing-file policy: a is
// new; b exists as "old" (not its beginning); c exists with its length; d
// exists longer than the offer (continuing it made sz die of SIGBUS).
TEST_F(ZModemSessions, ExistingFilesFollowThePolicy) {
    const std::string a = sendFile("a.txt", 3000, 61), b = sendFile("b.txt", 500, 62), c = sendFile("c.txt", 100, 63),
                      d = sendFile("d.txt", 1000, 64), Y(100, 'Y'), L(5000, 'L');
    using P = ZModem::ExistingFile;
    const struct {
        P policy;
        std::vector<std::string> outcomes;
        std::string b, c, d;  // afterwards
    } rows[] = {{P::Resume, {"a.txt sent", "b.txt sent", "c.txt skipped", "d.txt skipped"}, "old" + b.substr(3), Y, L},
                {P::Keep, {"a.txt sent", "b.txt skipped", "c.txt skipped", "d.txt skipped"}, "old", Y, L},
                {P::Overwrite, {"a.txt sent", "b.txt sent", "c.txt sent", "d.txt sent"}, b, c, d},
                {P::Rename, {"a.txt sent", "b.1.txt sent", "c.1.txt sent", "d.1.txt sent"}, "old", Y, L}};
    for (const auto& row : rows) {
        std::filesystem::remove_all(msRecv);
        std::filesystem::create_directory(msRecv);
        TestSupport::writeFile(msRecv + "/b.txt", "old");
        TestSupport::writeFile(msRecv + "/c.txt", Y);
        TestSupport::writeFile(msRecv + "/d.txt", L);
        Outcomes seen;
        End receiver{[&](CZModem& s) {
            s.setObserver(&seen);
            s.setExistingFilePolicy(row.policy);
            return s.rec_z(1);
        }};
        EXPECT_EQ(std::make_pair(0, 0), session(sz({"-q", "a.txt", "b.txt", "c.txt", "d.txt"}), receiver));
        EXPECT_EQ(row.outcomes, seen.lines);
        EXPECT_TRUE(a == received("a.txt") && row.b == received("b.txt") && row.c == received("c.txt") &&
                    row.d == received("d.txt"));
        EXPECT_TRUE(row.policy != P::Rename ||
                    (b == received("b.1.txt") && c == received("c.1.txt") && d == received("d.1.txt")));
    }
}

// A receiver under a file-size limit cannot write the whole file: the session
// fails on both sides (the sender is cancelled) and the short file stays a
// true beginning of the offered one.
TEST_F(ZModemSessions, AFailedWriteEndsTheSessionOnBothSides) {
    const std::string bytes = sendFile("big.bin", 600000, 65);
    End limited{[](CZModem& s) {
                    ::signal(SIGXFSZ, SIG_IGN);
                    rlimit limit{200000, 200000};
                    ::setrlimit(RLIMIT_FSIZE, &limit);
                    return s.rec_z(1) == E::ErrFile ? 0 : 1;
                },
                {},
                true};
    auto [szStatus, receiver] = session(sz({"-q", "big.bin"}), limited);
    EXPECT_NE(0, szStatus);
    EXPECT_EQ(0, receiver);
    const std::string got = received("big.bin");
    EXPECT_LE(got.size(), 200000u);
    EXPECT_TRUE(bytes.compare(0, got.size(), got) == 0);
}

TEST_F(ZModemSessions, AFileOf2GiBIsRefusedBeforeTheSession) {
    sendFile("huge.bin", 1, 1);
    std::filesystem::resize_file(msSend + "/huge.bin", 3ull << 30);
    TestSupport::ScriptedDevice line;
    CZModem sender(&line);
    sender.set_path(msSend.c_str());
    EXPECT_EQ(E::ErrFileTooLarge, sender.sendez("huge.bin", 0, 0));
    EXPECT_EQ(E::ErrFileTooLarge, sender.sendFiles({"huge.bin"}));
    EXPECT_TRUE(line.writes().empty());
}

// Terminate from another thread ends a running transfer, and every later session.
TEST_F(ZModemSessions, TerminateEndsARunningTransferAndEveryLaterOne) {
    sendFile("t.bin", 4000000, 41);
    struct Started : ZModem::TransferObserver {
        std::promise<void> promise;
        bool fired = false;
        void fileProgress(const Base::String&, std::uint64_t bytes) override {
            if (bytes >= 50 * 1024 && !fired) promise.set_value();
            fired = fired || bytes >= 50 * 1024;
        }
    } started;
    DebugLines lines;
    Base::MemoryDevice memory;
    auto [sent, got] = session({[&](CZModem& s) {
                                   s.setObserver(&started);
                                   std::thread stopper([&] {
                                       started.promise.get_future().wait_for(std::chrono::seconds(20));
                                       s.Terminate();
                                   });
                                   int r = s.sendez("t.bin", 0, 0);
                                   stopper.join();
                                   EXPECT_TRUE(s.rec_z(3) == E::ErrAborted && s.rec_z(&memory) == E::ErrAborted &&
                                               s.sendez("t.bin", 0, 0) == E::ErrAborted);
                                   return r;
                               }},
                               kReceiver);
    EXPECT_EQ(E::ErrAborted, sent);
    EXPECT_NE(0, got);
    EXPECT_EQ(1, lines.count("Benutzer Abbruch !\n"));
    EXPECT_LT(std::filesystem::file_size(msRecv + "/t.bin"), 4000000u);
}

}  // namespace
