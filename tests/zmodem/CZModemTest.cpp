// ZMODEM sessions against lrzsz and each other: policies, failed writes, damaged frames and noise.
#include <varonet/zmodem/CZModem.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <regex>
#include <thread>

#include <varonet/base/Exception.h>

#include "support/ByteRelay.h"
#include "support/Files.h"
#include "support/Process.h"
#include "zmodem/ZModemTestKit.h"

using ZModem::CZModem;
using namespace ZModemTestKit;
using E = ZModem::ZModemErrors;
using P = ZModem::ExistingFile;
using Damage = TestSupport::ByteRelay::Damage;
using Names = std::vector<std::string>;
using Contents = std::map<std::string, std::string>;

namespace {

using Settings = ZModem::SessionSettings;
const Settings Stream{.window = 16384}, Keeps{.keepTimeAndMode = true};

// One end of a session: our CZModem running run (on a thread, or in a forked
// child when fork is set), or an lrzsz program with its arguments.
struct End {
    std::function<int(CZModem&)> run;
    Names program = {};
    bool fork = false;
};
End sz(Names args) { return {nullptr, (args.insert(args.begin(), "sz"), args)}; }
End rz(Names args = {"-q"}) { return {nullptr, (args.insert(args.begin(), "rz"), args)}; }
End sender(const std::string& name, Settings settings = {}) {
    return {[name, settings](CZModem& s) { return s.setSettings(settings), s.sendez(name.c_str(), 0, 0); }};
}
End command(const std::string& line) {
    return {[line](CZModem& s) { return s.sendez(line.c_str(), 1, static_cast<int>(line.size()) + 1); }};
}
Names operator+(Names a, const Names& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// Damages one byte, in one direction (0: sender to receiver), of the first
// stretch that matches mark: the byte from + seed % (to - from) past the
// start of the mark's group (of the whole match when it has none).
Damage damageAt(int direction, const std::string& mark, int from, int to, unsigned seed, std::shared_ptr<bool> placed) {
    auto seen = std::make_shared<std::string>();
    auto target = std::make_shared<long>(-1);
    const std::regex pattern(mark);
    return [=](int side, char* bytes, std::size_t n) {
        if (side != direction) return;
        const long start = static_cast<long>(seen->size());
        seen->append(bytes, n);
        std::smatch m;
        if (*target < 0 && std::regex_search(*seen, m, pattern))
            *target = std::max(start, static_cast<long>(m.position(m.size() - 1) + from + seed % (to - from)));
        if (*target >= start && *target < start + static_cast<long>(n)) {
            bytes[*target - start] ^= static_cast<char>(1u << (seed % 8));
            *placed = true;
        }
    };
}

// Sessions between two ends joined by a relay; the fixture records what our
// ends report about each file and the command our receiver got.
class ZModemSessions : public ::testing::Test, public ZModem::TransferObserver {
protected:
    void SetUp() override {
        for (const char* program : {"sz", "rz"})
            ASSERT_NE("", TestSupport::findProgram(program))
                << program << " not on PATH: install the Debian package lrzsz";
    }
    void fileFinished(const Base::String& name, Outcome outcome, int code) override {
        mSeen.push_back(name.str() + (outcome == Outcome::Sent      ? " sent"
                                      : outcome == Outcome::Skipped ? " skipped"
                                                                    : " failed " + std::to_string(code)));
    }
    std::string sendFile(const std::string& name, std::size_t size, unsigned seed) {
        std::string bytes = TestSupport::randomBytes(size, seed);
        TestSupport::writeFile(msSend + "/" + name, bytes);
        return bytes;
    }
    std::string received(const std::string& name) { return TestSupport::readFile(msRecv + "/" + name); }
    bool arrived(const std::string& name) { return received(name) == TestSupport::readFile(msSend + "/" + name); }
    // name through damage: 'o' ours to ours, 'r' ours to rz, 's' sz to ours
    // ('O', 'R': our sender streaming); true when both ended well and the
    // file is byte-exact.
    bool delivered(char pairing, Damage damage, const std::string& name) {
        std::filesystem::remove(msRecv + "/" + name);
        auto r = session(pairing == 's' ? sz({"-q", name}) : sender(name, {.window = std::isupper(pairing) ? 2048 : 0}),
                         std::tolower(pairing) == 'r' ? rz() : receiver(), std::move(damage));
        return r == std::make_pair(0, 0) && arrived(name);
    }

    // Our receiver (under a policy) and our sender of several files, observed.
    End receiver(std::optional<P> policy = {}, Settings settings = {}) {
        return {[this, policy, settings](CZModem& s) {
            s.setObserver(this);
            s.setSettings(settings);
            if (policy) s.setExistingFilePolicy(*policy);
            const int r = s.rec_z(1);
            mCommand = s.getCmdStr().str();
            return r;
        }};
    }
    End sendFiles(const Names& names, Settings settings = {}) {
        return {[this, names, settings](CZModem& s) {
            std::vector<Base::String> paths;
            for (const auto& name : names) paths.emplace_back(name.c_str());
            s.setObserver(this);
            s.setSettings(settings);
            return s.sendFiles(paths);
        }};
    }

    // Runs from (in the send folder) against to (in the receive folder)
    // through a relay that applies damage; the results of both, and the
    // writes of our sender when asked for.
    std::pair<int, int> session(const End& from, const End& to, Damage damage = nullptr, Names* writes = nullptr) {
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

    // One session per row, each into a receive folder holding only `before`:
    // the results of both ends, what our observing end reported per file
    // (when given), the files that arrive byte-exact, the files that hold
    // given bytes afterwards, the headers our sender sent (when given), the
    // command our receiver got and what rz wrote to its error output.
    struct Row {
        std::string what;
        End from, to;
        Contents before = {};
        std::pair<int, int> results = {0, 0};
        Names seen = {}, arrive = {};
        Contents after = {};
        std::string steps = "", command = "", peerErr = "";
        std::string ends = "", kept = "";  // the frame ends our sender sent; a file kept with its time and mode
    };
    void run(const std::vector<Row>& rows) {
        ::umask(022);
        for (const auto& row : rows) {
            SCOPED_TRACE(row.what);
            std::filesystem::remove_all(msRecv);
            std::filesystem::create_directory(msRecv);
            for (const auto& [name, bytes] : row.before) TestSupport::writeFile(msRecv + "/" + name, bytes);
            mSeen.clear(), mCommand.clear();
            Names writes;
            EXPECT_EQ(row.results, session(row.from, row.to, nullptr, &writes));
            EXPECT_EQ(row.seen.empty() ? mSeen : row.seen, mSeen);
            for (const auto& name : row.arrive) {
                EXPECT_TRUE(arrived(name)) << name;
                // a file our receiver creates is readable by its group, not by others
                const auto mode = static_cast<unsigned>(std::filesystem::status(msRecv + "/" + name).permissions());
                EXPECT_EQ(row.to.run && !row.before.count(name) ? 0640 : mode, mode) << name;
            }
            for (const auto& [name, bytes] : row.after) EXPECT_TRUE(received(name) == bytes) << name;
            EXPECT_EQ(row.kept.empty() ? "" : look(msSend + "/" + row.kept),
                      row.kept.empty() ? "" : look(msRecv + "/" + row.kept));
            std::string sent, ends, alone;
            for (const auto& w : writes) {
                const std::string h = headers(w);
                sent += h.empty() ? "" : " " + h;
                ends += frameEnds(w);
                // a ZDATA header leaves in the same write as its subpacket
                if (h.rfind("ZDATA", 0) == 0 && frameEnds(w).empty()) alone += h;
            }
            EXPECT_EQ("", alone);
            EXPECT_EQ(row.steps, row.steps.empty() ? "" : sent.substr(1));
            const std::string start = "rz\r**\030B0000000012";  // ZRQINIT with ZCOMMAND
            EXPECT_EQ(start, row.steps.empty() ? start : writes[0] + writes[1].substr(0, 14));
            EXPECT_EQ(row.ends, row.ends.empty() ? "" : ends);
            EXPECT_EQ(row.command, row.command.empty() ? "" : mCommand);
            const std::string peerErr = TestSupport::readFile(mDir.file("peer.err"));
            EXPECT_NE(std::string::npos, row.peerErr.empty() ? 0 : peerErr.find(row.peerErr));
        }
    }
    // What a user sees of a file: its bytes, mode and modification time.
    static std::string look(const std::string& path) {
        return TestSupport::readFile(path) + " " +
               std::to_string(static_cast<int>(std::filesystem::status(path).permissions())) + " " +
               std::to_string(std::filesystem::last_write_time(path).time_since_epoch().count());
    }

    TestSupport::TempDir mDir;
    std::string msSend = mDir.sub("send"), msRecv = mDir.sub("recv");
    Names mSeen;
    std::string mCommand;
};

// ---------------------------------------------------------------- our sender and receiver, and lrzsz

// Every size, and a file dense in the bytes the escaping is about, from sz
// with each option that changes the wire (8 KiB subpackets, escaping every
// control character announced with ZSINIT, a window of ZCRCQ subpackets) and
// to rz (also escaping every control character); several files to rz: one it
// has (-p keeps it), one missing (fails alone), one by its full path; rz
// resumes a partial file at the last whole KiB it has.
TEST_F(ZModemSessions, LrzszSessionsAreByteExact) {
    std::string special = TestSupport::randomBytes(200000, 51);
    for (int i = 0; i < 3000; ++i)
        special[static_cast<std::size_t>(i) * 7] = "\x18\x11\r@\x05\x91\x93\x90\x10\x8d"[i % 10];
    TestSupport::writeFile(msSend + "/special.bin", special);
    ::chmod((msSend + "/special.bin").c_str(), 0751);
    std::filesystem::last_write_time(
        msSend + "/special.bin",
        std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1557126489))));
    const Names six = {"empty.bin", "hundred.bin", "block.bin", "block1.bin", "million.bin", "special.bin"};
    const std::size_t sizes[] = {0, 100, 1024, 1025, 1000000};
    for (int k = 0; k < 5; ++k) sendFile(six[static_cast<std::size_t>(k)], sizes[k], static_cast<unsigned>(k));
    const Names many = {"hundred.bin", "none.bin", msSend + "/million.bin", "empty.bin", "block.bin", "special.bin"};
    const Names four = {"million.bin", "empty.bin", "block.bin", "special.bin"};
    const Names outcomes = {"none.bin failed -1", "million.bin sent", "empty.bin sent", "block.bin sent",
                            "special.bin sent"};
    // clang-format off
    std::vector<Row> rows;
    for (const Names& options : {Names{}, Names{"-8"}, Names{"-e"}, Names{"-w", "8192"}, Names{"-e", "-8"}})
        rows.push_back({.what = "sz", .from = sz(Names{"-q"} + options + six), .to = receiver(), .arrive = six});
    rows.insert(rows.end(), {
         {.what = "sz, time and mode", .from = sz({"-q", "special.bin"}), .to = receiver({}, Keeps), .kept = "special.bin"},
         {.what = "rz -p", .from = sendFiles(many), .to = rz({"-q", "-p"}), .before = {{"hundred.bin", "old"}}, .results = {E::ErrFile, 0}, .seen = Names{"hundred.bin skipped"} + outcomes, .arrive = four, .after = {{"hundred.bin", "old"}}},
         {.what = "rz -e", .from = sendFiles(many), .to = rz({"-q", "-e"}), .results = {E::ErrFile, 0}, .seen = Names{"hundred.bin sent"} + outcomes, .arrive = Names{"hundred.bin"} + four},
         {.what = "rz, streaming, full offers", .from = sendFiles(many, {.window = 65536, .offer = Settings::Offer::Full}), .to = rz(), .results = {E::ErrFile, 0}, .seen = Names{"hundred.bin sent"} + outcomes, .arrive = Names{"hundred.bin"} + four, .kept = "special.bin"},
         {.what = "rz -r", .from = sender("special.bin"), .to = rz({"-q", "-r"}), .before = {{"special.bin", std::string(40000, 'Z')}}, .after = {{"special.bin", std::string(39936, 'Z') + special.substr(39936)}}},
         {.what = "rz -r, streaming", .from = sender("special.bin", Stream), .to = rz({"-q", "-r"}), .before = {{"special.bin", std::string(40000, 'Z')}}, .after = {{"special.bin", std::string(39936, 'Z') + special.substr(39936)}}}});
    // clang-format on
    run(rows);
}

// Each size takes the steps it should, ours to ours; sz a b c d into our
// receiver under each existing-file policy: a is new; b exists as "old" (not
// its beginning); c exists with its length; d exists longer than the offer
// (continuing it made sz die of SIGBUS). Commands reach the receiver: ours
// to rz (Debian's rz answers ZCOMPL without running it, its ZRINIT flags for
// the status), sz and ours to ours.
TEST_F(ZModemSessions, FilesAndCommandsArriveAsThePolicySays) {
    const std::string a = sendFile("a.txt", 3000, 61), b = sendFile("b.txt", 500, 62), c = sendFile("c.txt", 100, 63),
                      d = sendFile("d.txt", 1000, 64), Y(100, 'Y'), L(5000, 'L');
    for (std::size_t size : {0, 100, 1024, 1025, 5000}) sendFile("f" + std::to_string(size), size, 5);
    const std::string e = sendFile(".e", 50, 66);
    const Contents have = {{"b.txt", "old"}, {"c.txt", Y}, {"d.txt", L}};
    const End abcd = sz({"-q", "a.txt", "b.txt", "c.txt", "d.txt"});
    // clang-format off
    run({{.what = "0", .from = sender("f0"), .to = receiver(), .arrive = {"f0"}, .steps = "ZRQINIT ZFILE ZEOF:0 ZFIN"},
         {.what = "100", .from = sender("f100"), .to = receiver(), .arrive = {"f100"}, .steps = "ZRQINIT ZFILE ZDATA:0 ZEOF:100 ZFIN", .ends = "kh"},
         {.what = "1024", .from = sender("f1024"), .to = receiver(), .arrive = {"f1024"}, .steps = "ZRQINIT ZFILE ZDATA:0 ZEOF:1024 ZFIN", .ends = "kk"},
         {.what = "1025", .from = sender("f1025"), .to = receiver(), .arrive = {"f1025"}, .steps = "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZEOF:1025 ZFIN", .ends = "kkh"},
         {.what = "5000", .from = sender("f5000"), .to = receiver(), .arrive = {"f5000"}, .steps = "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZDATA:2048 ZDATA:3072 ZDATA:4096 ZEOF:5000 ZFIN", .ends = "kkkkkh"},
         {.what = "5000, streaming", .from = sender("f5000", Stream), .to = receiver(), .arrive = {"f5000"}, .steps = "ZRQINIT ZFILE ZDATA:0 ZEOF:5000 ZFIN", .ends = "kiiijh"},
         {.what = "resume", .from = abcd, .to = receiver(P::Resume), .before = have, .seen = {"a.txt sent", "b.txt sent", "c.txt skipped", "d.txt skipped"}, .arrive = {"a.txt"}, .after = {{"b.txt", "old" + b.substr(3)}, {"c.txt", Y}, {"d.txt", L}}},
         {.what = "resume, streaming", .from = sendFiles({"a.txt", "b.txt", "c.txt", "d.txt"}, Stream), .to = receiver(P::Resume), .before = have, .seen = {"a.txt sent", "a.txt sent", "b.txt sent", "b.txt sent", "c.txt skipped", "c.txt skipped", "d.txt skipped", "d.txt skipped"}, .arrive = {"a.txt"}, .after = {{"b.txt", "old" + b.substr(3)}, {"c.txt", Y}, {"d.txt", L}}},
         {.what = "keep", .from = abcd, .to = receiver(P::Keep), .before = have, .seen = {"a.txt sent", "b.txt skipped", "c.txt skipped", "d.txt skipped"}, .arrive = {"a.txt"}, .after = have},
         {.what = "keep, sz -y", .from = sz({"-q", "-y", "a.txt", "b.txt", "c.txt", "d.txt"}), .to = receiver(P::Keep), .before = have, .seen = {"a.txt sent", "b.txt sent", "c.txt sent", "d.txt sent"}, .arrive = {"a.txt", "b.txt", "c.txt", "d.txt"}},
         {.what = "overwrite", .from = abcd, .to = receiver(P::Overwrite), .before = have, .seen = {"a.txt sent", "b.txt sent", "c.txt sent", "d.txt sent"}, .arrive = {"a.txt", "b.txt", "c.txt", "d.txt"}},
         {.what = "rename", .from = abcd, .to = receiver(P::Rename), .before = have, .seen = {"a.txt sent", "b.1.txt sent", "c.1.txt sent", "d.1.txt sent"}, .arrive = {"a.txt"}, .after = {{"b.txt", "old"}, {"c.txt", Y}, {"d.txt", L}, {"b.1.txt", b}, {"c.1.txt", c}, {"d.1.txt", d}}},
         {.what = "rename a name without extension", .from = sz({"-q", ".e"}), .to = receiver(P::Rename), .before = {{".e", "x"}}, .after = {{".e", "x"}, {".e.1", e}}},
         {.what = "command to rz", .from = command("touch made-by-command"), .to = rz({"-v", "-C"}), .results = {0x23, 0}, .peerErr = "touch made-by-command"},
         {.what = "command from sz", .from = sz({"-q", "-c", "echo hello"}), .to = receiver(), .results = {0, 1}, .command = std::string("echo hello\0", 11)},
         {.what = "command", .from = command("ls -l"), .to = receiver(), .results = {0, 1}, .command = std::string("ls -l\0", 6)}});
    // clang-format on
}

// A receiver under a file-size limit cannot write the whole file: the session
// fails on both sides (the sender is cancelled), the receiver reports the file
// failed once, and the short file stays a true beginning of the offered one.
TEST_F(ZModemSessions, AFailedWriteEndsTheSessionOnBothSides) {
    const std::string bytes = sendFile("big.bin", 600000, 65);
    End limited{[this](CZModem& s) {
                    ::signal(SIGXFSZ, SIG_IGN);
                    rlimit limit{200000, 200000};
                    ::setrlimit(RLIMIT_FSIZE, &limit);
                    s.setObserver(this);
                    // a file error, the file reported once
                    return s.rec_z(1) == E::ErrFile ? static_cast<int>(mSeen.size()) : -1;
                },
                {},
                true};
    auto [szStatus, receiver] = session(sz({"-q", "big.bin"}), limited);
    EXPECT_NE(0, szStatus);
    EXPECT_EQ(1, receiver);
    const std::string got = received("big.bin");
    EXPECT_GT(got.size(), 0u);  // kept under its name (Resume), a true beginning
    EXPECT_LE(got.size(), 200000u);
    EXPECT_TRUE(bytes.compare(0, got.size(), got) == 0);
}

// ---------------------------------------------------------------- damage on the line

// One damaged byte (placed by a seed) in the first frame of each kind, in the
// direction it travels: both sides still end well and the file is byte-exact,
// ours to ours and with lrzsz on either side ('o', 'r', 's'). Waits that only
// a time-out ends: a damaged ZRQINIT or ZFILE header between our sender and
// receiver, until the receiver asks again (1 s); a damaged ZFILE header from
// sz, sz's own wait (6 s). The others recover at once.
TEST_F(ZModemSessions, OneDamagedByteInAnyFrameIsRecovered) {
    // clang-format off
    const struct { const char* kind; int direction; const char* mark; int from, to; const char* pairings; } rows[] = {
        {"ZRQINIT", 0, R"(\*\*\x18B00)", 0, 21, "orsOR"}, {"ZRINIT", 1, R"(\*\*\x18B01)", 0, 21, "orsOR"},
        {"ZFILE", 0, R"(\*\x18C\x04)", 0, 12, "orsOR"}, {"ZFILE subpacket", 0, R"(fault\.bin)", 0, 14, "orsOR"},
        {"ZDATA", 0, R"(\*\x18C\x0a)", 0, 12, "orsOR"}, {"data subpacket", 0, R"(\*\x18C\x0a)", 20, 900, "orsOR"},
        {"its CRC", 0, R"(\*\x18C\x0a[\s\S]*?(\x18[h-k]))", 2, 6, "orsOR"},
        {"ZACK", 1, R"(\*\*\x18B03)", 0, 20, "orOR"},  // sz streams: no ZACK on a clean line
        {"ZRPOS", 1, R"(\*\*\x18B09)", 0, 21, "orsOR"}, {"ZEOF", 0, R"(\*\x18C\x0b)", 0, 12, "orsOR"},
        {"ZFIN", 0, R"(\*\*\x18B08)", 0, 20, "orsOR"}, {"ZFIN answer", 1, R"(\*\*\x18B08)", 0, 20, "orsOR"},
        {"OO", 0, R"(\*\*\x18B08[\s\S]*?(OO))", 0, 2, "orsOR"}};
    // clang-format on
    sendFile("fault.bin", 3000, 71);
    unsigned seed = 1;
    for (const auto& row : rows) {
        for (const char* pairing = row.pairings; *pairing; ++pairing, seed += 7) {
            SCOPED_TRACE(std::string(row.kind) + " " + *pairing + " seed " + std::to_string(seed));
            auto placed = std::make_shared<bool>(false);
            EXPECT_TRUE(
                delivered(*pairing, damageAt(row.direction, row.mark, row.from, row.to, seed, placed), "fault.bin"));
            EXPECT_TRUE(*placed);
        }
    }
}

// One byte in ten thousand damaged both ways: the transfer still completes.
TEST_F(ZModemSessions, ANoisyLineStillDeliversTheFile) {
    sendFile("noisy.bin", 256 * 1024, 72);
    for (char pairing : {'o', 'r', 's', 'O', 'R'})
        EXPECT_TRUE(delivered(pairing, TestSupport::ByteRelay::noise(1e-4, 9), "noisy.bin")) << pairing;
}

// ---------------------------------------------------------------- peers that do the unexpected

// Our side against a peer played from a script: whatever we send, it answers
// with the next bytes of the script, then falls silent; or, with turns, each
// answer once we have made so many writes (1 "rz\r", 2 ZRQINIT, 3 and 4 the
// offer, then one per subpacket and header). The call: 's' sends the file,
// 'f' sends it with sendFiles, 'c' sends the command, 'r' receives. The
// headers we send, and with a window (streaming) the frame end of each
// subpacket. An offered name is cut to its last part or refused: nothing
// lands outside the folder.
TEST_F(ZModemSessions, AgainstScriptedPeers) {
    sendFile("s.bin", 100, 81);
    sendFile("m.bin", 3000, 82);
    sendFile("huge.bin", 1, 1);
    std::filesystem::resize_file(msSend + "/huge.bin", 3ull << 30);
    const std::string rinit = frame(Core::ZRINIT, 0x23000000), fin = frame(Core::ZFIN), rqinit = frame(Core::ZRQINIT);
    auto offer = [&](const std::string& name, const std::string& size, std::string tail = "") {
        return "rz\r" + rqinit + frame(Core::ZFILE, 0, Core::ZBIN32) + sub(name + '\0' + size) +
               frame(Core::ZDATA, 0, Core::ZBIN32) + sub("hello", Core::ZCRCE) +
               (tail.empty() ? frame(Core::ZEOF, 5, Core::ZBIN32) + fin + "OO" : tail);
    };
    const std::string ls("ls\0", 3), served = "ZRINIT ZRPOS:0 ZRINIT ZFIN", end = rinit + fin;
    std::string elsewhere, askedBack, garbled;  // data for a position never reached, forty times; five garbled headers
    for (int k = 0; k < 40; ++k)
        elsewhere += frame(Core::ZDATA, 7, Core::ZBIN32), askedBack += k < 39 ? " ZRPOS:5" : "",
            garbled += k < 5 ? frame(Core::ZACK).replace(9, 1, "5") : "";
    auto at = [](int type, unsigned long position) { return frame(type, position); };
    // clang-format off
    const struct { char call; std::string arg, script; int result; std::string answers; int escapeAll = 0; std::string command = "", landsAs = ""; Settings settings = {}; std::vector<std::pair<std::size_t, std::string>> turns = {}; std::string ends = "", waits = "?"; Names seen = {"?"}; } rows[] = {
        // The offer refused once; its answer damaged (a line of junk); ZRPOS after ZEOF; ZFERR and ZCAN during data.
        {'s', "s.bin", rinit + frame(Core::ZNAK) + frame(Core::ZRPOS) + rinit + fin, 0, "ZRQINIT ZFILE ZFILE ZDATA:0 ZEOF:100 ZFIN"},
        {'s', "s.bin", rinit + "junk\r\n" + frame(Core::ZRPOS) + rinit + fin, 0, "ZRQINIT ZFILE ZFILE ZDATA:0 ZEOF:100 ZFIN"},
        {'s', "s.bin", rinit + frame(Core::ZRPOS) + frame(Core::ZRPOS, 50) + rinit + fin, 0, "ZRQINIT ZFILE ZDATA:0 ZEOF:100 ZDATA:50 ZEOF:100 ZFIN"},
        {'s', "m.bin", rinit + frame(Core::ZRPOS) + frame(Core::ZFERR), E::ErrReceiverFileError, "ZRQINIT ZFILE ZDATA:0 CANCEL"},
        {'s', "m.bin", rinit + frame(Core::ZRPOS) + frame(Core::ZCAN), E::ErrCancelled, "ZRQINIT ZFILE ZDATA:0 CANCEL"},
        // An answer to no frame of ours is passed over; a request for where we are keeps the subpackets whole.
        {'s', "m.bin", rinit + frame(Core::ZRPOS) + at(Core::ZACK, 512) + frame(Core::ZCAN), E::ErrCancelled, "ZRQINIT ZFILE ZDATA:0 CANCEL"},
        {.call = 's', .arg = "m.bin", .script = rinit, .result = 0, .answers = "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZDATA:2048 ZEOF:3000 ZFIN", .turns = {{4, at(Core::ZRPOS, 0)}, {5, at(Core::ZRPOS, 1024)}, {6, at(Core::ZACK, 2048)}, {8, end}}},
        // Start-up: our ZRQINIT echoed, a challenge, a command, something else; a cancel; silence.
        {'s', "s.bin", frame(Core::ZRQINIT, 0x12000000) + frame(Core::ZCHALLENGE, 0x04030201) + frame(Core::ZCOMMAND) + frame(Core::ZSKIP) + rinit + frame(Core::ZSKIP) + fin, 0, "ZRQINIT ZACK:67305985 ZRQINIT ZNAK ZFILE ZFIN"},
        {'s', "s.bin", frame(Core::ZCAN), E::ErrNoReceiver, "ZRQINIT CANCEL"}, {.call = 's', .arg = "s.bin", .script = "", .result = E::ErrNoReceiver, .answers = "ZRQINIT ZRQINIT ZRQINIT ZRQINIT ZRQINIT ZRQINIT ZRQINIT CANCEL", .waits = "10000 10000 10000 10000 10000 10000"},  // and one after each of six silences
        // Escaping every control character is announced with ZSINIT, refused once.
        {'s', "s.bin", rinit + frame(Core::ZNAK) + frame(Core::ZACK) + frame(Core::ZRPOS) + rinit + fin, 0, "ZRQINIT ZSINIT ZSINIT ZFILE ZDATA:0 ZEOF:100 ZFIN", 1},
        // A file that is not there; one of 2 GiB or more, refused before anything is sent.
        {'s', "none.bin", rinit + fin, E::ErrFile, "ZRQINIT CANCEL"}, {'s', "huge.bin", rinit + fin, E::ErrFileTooLarge, ""}, {'f', "huge.bin", rinit + fin, E::ErrFileTooLarge, ""},
        // The exit status a receiver puts in ZCOMPL; a command never answered is sent 12 times.
        {'c', "make", rinit + frame(Core::ZCOMPL, 5u << 24) + fin, 5, "ZRQINIT ZCOMMAND ZFIN"}, {.call = 'c', .arg = "make", .script = rinit, .result = E::ErrProtocol, .answers = "ZRQINIT ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND ZCOMMAND CANCEL", .waits = "60000 60000 60000 60000 60000 60000 60000 60000 60000 60000 60000 60000"},
        // Our receiver: a cancel; without "rz\r" the ZRQINIT starts the session; a command; three silences.
        {'r', "", "rz\r" + rqinit + frame(Core::ZCAN), E::ErrCancelled, "ZRINIT CANCEL"},
        {'r', "", rqinit + fin + "OO", 0, "ZRINIT ZFIN"}, {.call = 'r', .arg = "", .script = "hello xz\r\x18" "Bx00", .result = E::ErrNoRz, .answers = "", .waits = "60000 60000 60000"},
        {.call = 'r', .arg = "", .script = "rz\r" + rqinit + fin + "OO", .result = 0, .answers = "ZRINIT ZRINIT ZFIN", .settings = {.greetAtOnce = true}},  // at once, and for ZRQINIT
        {'r', "", "rz\r" + rqinit + frame(Core::ZCOMMAND, 0, Core::ZBIN32) + sub(ls + "xx") + fin + "OO", 1, "ZRINIT ZCOMPL ZFIN", 0, ls},
        // A free-space query is answered with what it held; a garbled answer is given again; a damaged command refused.
        {'r', "", "rz\r" + rqinit + garbled, E::ErrProtocol, "ZRINIT ZRINIT CANCEL"},  // garbled headers only: no success
        {'r', "", "rz\r" + rqinit + frame(Core::ZFREECNT, 0x01020304) + frame(Core::ZNAK) + fin + "OO", 0, "ZRINIT ZACK:16909060 ZRINIT ZFIN"},
        {'r', "", "rz\r" + rqinit + frame(Core::ZCOMMAND, 0, Core::ZBIN32) + sub(ls).substr(1) + fin + "OO", 0, "ZRINIT ZNAK ZFIN"},
        // Offered names: cut to their last part, or refused; a file too large is skipped, the session goes on.
        {'r', "", offer("../evil.txt", "5"), 0, served, 0, "", "evil.txt"}, {'r', "", offer("/tmp/abs/evil2.txt", "5"), 0, served, 0, "", "evil2.txt"},
        {'r', "", offer("a/b/../../../evil3.txt", "5"), 0, served, 0, "", "evil3.txt"}, {'r', "", offer("..", "5"), -1, "ZRINIT CANCEL"}, {'r', "", offer(".", "5"), -1, "ZRINIT CANCEL"}, {'r', "", offer("dir/", "5"), -1, "ZRINIT CANCEL"},
        {'r', "", offer("huge.bin", "3000000000"), E::ErrFileTooLarge, "ZRINIT ZSKIP ZRINIT ZFIN"},
        {'r', "", offer("cut.txt", "9", fin + "OO"), E::ErrProtocol, "ZRINIT ZRPOS:0 ZFIN CANCEL", 0, "", "cut.txt"},  // no ZEOF: incomplete, kept
        {.call = 'r', .arg = "", .script = offer("gone.txt", "9", " "), .result = E::ErrProtocol, .answers = "ZRINIT ZRPOS:0 ZRPOS:5 ZRPOS:5 ZRPOS:5 ZRPOS:5 ZRPOS:5 CANCEL", .waits = "1000 5000 5000 5000 5000"},  // a sender gone silent (after a stray byte)
        {.call = 'r', .arg = "", .script = offer("far.txt", "9", elsewhere), .result = E::ErrProtocol, .answers = "ZRINIT ZRPOS:0" + askedBack + " CANCEL", .seen = {"far.txt failed 536870926"}},  // given up, and said so
        {.call = 'r', .arg = "", .script = "rz\r" + rqinit + frame(Core::ZFILE, 0, Core::ZBIN32) + sub(std::string("d.txt\0" "9", 7)), .result = 0, .answers = "ZRINIT ZRPOS:0 ZACK:5 ZRPOS:5 ZRPOS:5 ZRINIT ZFIN", .turns = {{2, frame(Core::ZDATA, 0, Core::ZBIN32) + sub("hello")}, {3, frame(Core::ZDATA, 5, Core::ZBIN32) + sub("abcd", Core::ZCRCE).replace(0, 1, "x")}, {5, frame(Core::ZDATA, 5, Core::ZBIN32) + sub("abcd", Core::ZCRCE) + frame(Core::ZEOF, 9, Core::ZBIN32) + fin + "OO"}}, .waits = "100"},  // a damaged subpacket, then silence: asked again after the line's round trip
        {.call = 'r', .arg = "", .script = "rz\r" + rqinit + frame(Core::ZFILE, 0, Core::ZBIN32) + sub(std::string("q.txt\0" "9", 7)), .result = E::ErrProtocol, .answers = "ZRINIT ZRPOS:0 ZACK:5 ZRPOS:5 ZRPOS:5 ZRPOS:5 ZRPOS:5 ZRPOS:5 ZRPOS:5 ZACK:7 ZRPOS:7 ZRPOS:7 ZRPOS:7 ZRPOS:7 ZACK:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 ZRPOS:8 CANCEL", .turns = {{2, frame(Core::ZDATA, 0, Core::ZBIN32) + sub("hello")}, {3, frame(Core::ZDATA, 5, Core::ZBIN32) + sub("abcd").replace(0, 1, "x")}, {9, frame(Core::ZDATA, 5, Core::ZBIN32) + sub("ab")}, {14, frame(Core::ZDATA, 7, Core::ZBIN32) + sub("c")}}, .waits = "100 200 400 800 1600 100 200 400 800 100 200 400 800 1600 3200 5000 5000 5000 5000"},  // the silence a setback costs counts afresh after each arrival
        // Streaming: ZCRCQ every quarter window, answered; a ZRPOS inside the window (behind an XON: no wait follows); a ZCAN; a receiver's buffer of 2 KiB.
        {.call = 's', .arg = "m.bin", .script = rinit, .result = 0, .answers = "ZRQINIT ZFILE ZDATA:0 ZEOF:3000 ZFIN", .settings = {.window = 4096}, .turns = {{4, at(Core::ZRPOS, 0)}, {5, at(Core::ZACK, 1024)}, {6, at(Core::ZACK, 2048)}, {8, end}}, .ends = "kjjh"},
        {.call = 's', .arg = "m.bin", .script = rinit, .result = 0, .answers = "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZDATA:1536 ZEOF:3000 ZFIN", .settings = {.window = 16384}, .turns = {{4, at(Core::ZRPOS, 0)}, {6, "\x11" + at(Core::ZRPOS, 1024)}, {7, at(Core::ZACK, 1536)}, {11, end}}, .ends = "kiikiih", .waits = ""},
        {.call = 's', .arg = "m.bin", .script = rinit, .result = 0, .answers = "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZDATA:1024 ZDATA:1024 ZDATA:1024 ZDATA:1280 ZEOF:3000 ZFIN", .settings = {.window = 16384}, .turns = {{4, at(Core::ZRPOS, 0)}, {6, at(Core::ZRPOS, 1024)}, {7, at(Core::ZACK, 1024).replace(9, 1, "5")}, {10, at(Core::ZACK, 1280)}, {18, end}}, .ends = "kiikkkkiiijiih", .waits = "200 400"},  // its confirmation damaged, then lost twice: waits of the line's round trips, longer after each silence only
        {.call = 's', .arg = "m.bin", .script = rinit, .result = E::ErrCancelled, .answers = "ZRQINIT ZFILE ZDATA:0 CANCEL", .settings = {.window = 16384}, .turns = {{4, at(Core::ZRPOS, 0)}, {6, frame(Core::ZCAN)}}, .ends = "kii"},
        {.call = 's', .arg = "m.bin", .script = at(Core::ZRINIT, 0x23000800), .result = 0, .answers = "ZRQINIT ZFILE ZDATA:0 ZDATA:2048 ZEOF:3000 ZFIN", .settings = {.window = 16384}, .turns = {{4, at(Core::ZRPOS, 0)}, {6, at(Core::ZACK, 2048)}, {8, end}}, .ends = "kikh"}};
    // clang-format on
    for (const auto& row : rows) {
        TurnPeer line(row.script, row.turns);
        CZModem session(&line);
        session.set_path((row.call == 'r' ? msRecv : msSend).c_str());
        session.setEscapeAll(row.escapeAll);
        session.setSettings(row.settings);
        if (row.seen != Names{"?"}) session.setObserver(this);  // the others run unobserved
        mSeen.clear();
        const int length = row.call == 'c' ? static_cast<int>(row.arg.size()) : 0;
        const int r = row.call == 'r'   ? session.rec_z(3)
                      : row.call == 'f' ? session.sendFiles({row.arg.c_str()})
                                        : session.sendez(row.arg.c_str(), row.call == 'c', length);
        EXPECT_EQ(row.result, r) << row.answers;
        EXPECT_EQ(row.answers, headers(line.written()));
        // a command's header asks for its acknowledgement: data 1, 0, 0, 1
        EXPECT_EQ(row.call == 'c',
                  line.written().find(frame(Core::ZCOMMAND, 0x01000001, Core::ZBIN32)) != std::string::npos);
        const bool refused = row.call != 'r' && row.result == E::ErrFileTooLarge;  // before anything is sent
        EXPECT_EQ(refused ? 0 : line.writes().size(), line.writes().size());
        // a receiver that got a command returns 1
        EXPECT_EQ(row.command, row.call == 'r' && r == 1 ? session.getCmdStr().str() : row.command);
        EXPECT_EQ(row.landsAs.empty() ? "" : "hello", row.landsAs.empty() ? "" : received(row.landsAs)) << row.landsAs;
        EXPECT_EQ(row.ends, row.settings.window ? frameEnds(line.written()) : "");
        EXPECT_EQ(row.waits, row.waits == "?" ? "?" : line.waits);
        EXPECT_EQ(row.seen, row.seen == Names{"?"} ? row.seen : mSeen);
    }
    std::size_t outside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(mDir.path())) outside += entry.is_regular_file();
    EXPECT_EQ(0u, outside);
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
    EXPECT_EQ(11, memory.reads);  // the first, then ten that failed
}

// Terminate from another thread ends a running transfer, and every later session.
TEST_F(ZModemSessions, TerminateEndsARunningTransferAndEveryLaterOne) {
    sendFile("t.bin", 4000000, 41);
    struct Started : ZModem::TransferObserver {
        std::promise<void> promise;
        bool fired = false;
        void fileProgress(const Base::String&, std::uint64_t bytes) override {
            if (bytes >= 50 * 1024 && !std::exchange(fired, true)) promise.set_value();
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
                                   EXPECT_EQ(E::ErrAborted, s.rec_z(3));
                                   EXPECT_EQ(E::ErrAborted, s.rec_z(&memory));
                                   EXPECT_EQ(E::ErrAborted, s.sendez("t.bin", 0, 0));
                                   return r;
                               }},
                               receiver());
    EXPECT_EQ(E::ErrAborted, sent);
    EXPECT_NE(0, got);
    EXPECT_EQ(1, lines.count("Benutzer Abbruch !\n"));
    EXPECT_LT(std::filesystem::file_size(msRecv + "/t.bin"), 4000000u);
}

}  // namespace
