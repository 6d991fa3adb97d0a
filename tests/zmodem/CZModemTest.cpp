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

// Damages one byte of the first frame in one direction that follows the
// marks in order ('\x01' stands for any frame end, h to k): the byte
// from + seed % (to - from) past the start of the last mark, one bit flipped.
TestSupport::ByteRelay::Damage damageAt(int direction, std::vector<std::string> marks, int from, int to, unsigned seed,
                                        std::shared_ptr<bool> placed) {
    struct Scan {
        std::string seen;  // the stream so far (a few KiB)
        std::size_t next = 0, mark = 0;
        long target = -1;
    };
    auto scan = std::make_shared<Scan>();
    return [=](int side, char* bytes, std::size_t n) {
        if (side != direction) return;
        const long start = static_cast<long>(scan->seen.size());
        scan->seen.append(bytes, n);
        auto matches = [&](std::size_t at, const std::string& m) {
            for (std::size_t k = 0; k < m.size(); ++k) {
                char c = scan->seen[at + k];
                if (m[k] == '\x01' ? c < 'h' || c > 'k' : c != m[k]) return false;
            }
            return true;
        };
        while (scan->target < 0 && scan->mark < marks.size()) {
            const std::string& m = marks[scan->mark];
            std::size_t at = scan->next;
            while (at + m.size() <= scan->seen.size() && !matches(at, m)) ++at;
            if (at + m.size() > scan->seen.size()) break;
            scan->next = at + m.size();
            if (++scan->mark == marks.size()) scan->target = std::max(start, static_cast<long>(at + from + seed % (to - from)));
        }
        if (scan->target >= start && scan->target < start + static_cast<long>(n)) {
            bytes[scan->target - start] ^= static_cast<char>(1u << (seed % 8));
            *placed = true;
        }
    };
}

class ZModemSessions : public ::testing::Test {
protected:
    void SetUp() override {
        msSend = mDir.sub("send");
        msRecv = mDir.sub("recv");
        msSz = TestSupport::findProgram("sz");
        msRz = TestSupport::findProgram("rz");
        ASSERT_FALSE(msSz.empty() || msRz.empty()) << "sz / rz not on PATH: install the Debian package lrzsz";
    }
    std::string sendFile(const std::string& name, std::size_t size, unsigned seed) {
        std::string bytes = TestSupport::randomBytes(size, seed);
        TestSupport::writeFile(msSend + "/" + name, bytes);
        return bytes;
    }
    std::string received(const std::string& name) { return TestSupport::readFile(msRecv + "/" + name); }
    int send(int fd, const std::string& name) {
        TestSupport::ScriptedDescriptor line(fd);
        CZModem session(&line);
        session.set_path(msSend.c_str());
        return session.sendez(name.c_str(), 0, 0);
    }
    int receive(int fd, std::string* command = nullptr) {
        TestSupport::ScriptedDescriptor line(fd);
        CZModem session(&line);
        session.set_path(msRecv.c_str());
        int r = session.rec_z(1);
        if (command) *command = session.getCmdStr().str();
        return r;
    }
    // A peer program started in dir on one end of a socket pair, run(our session) on the other.
    int withPeer(const std::string& program, std::vector<std::string> args, const std::string& dir,
                 const std::function<int(CZModem&)>& run) {
        TestSupport::SocketPair pair;
        args.insert(args.begin(), program);
        TestSupport::ChildProcess peer(args, {.directory = dir, .stdinFd = pair.fd[1], .stdoutFd = pair.fd[1],
                                              .stderrPath = mDir.file("peer.err")});
        ::close(pair.take(1));
        TestSupport::ScriptedDescriptor line(pair.take(0));
        CZModem session(&line);
        int r = run(session);
        line.close();
        miPeerStatus = peer.wait(20000);
        return r;
    }
    // name from the send folder to the receive folder through a relay that
    // damages what damage says: 'o' ours to ours, 'r' ours to rz, 's' sz to
    // ours. True when both sides ended well and the file is byte-exact.
    bool relayed(char pairing, TestSupport::ByteRelay::Damage damage, const std::string& name) {
        TestSupport::SocketPair left, right;
        TestSupport::ByteRelay relay(left.take(1), right.take(0), std::move(damage));
        int ours = -2, theirs = -2;
        if (pairing == 'o') {
            std::thread receiver([&] { theirs = receive(right.take(1)); });
            ours = send(left.take(0), name);
            receiver.join();
        } else {
            TestSupport::SocketPair& at = pairing == 'r' ? right : left;
            const int end = pairing == 'r' ? 1 : 0;
            TestSupport::ChildProcess peer(pairing == 'r' ? std::vector<std::string>{msRz, "-q"} : std::vector<std::string>{msSz, "-q", name},
                                           {.directory = pairing == 'r' ? msRecv : msSend, .stdinFd = at.fd[end],
                                            .stdoutFd = at.fd[end], .stderrPath = mDir.file("peer.err")});
            ::close(at.take(end));
            ours = pairing == 'r' ? send(left.take(0), name) : receive(right.take(1));
            theirs = peer.wait(20000);
        }
        return ours == 0 && theirs == 0 && received(name) == TestSupport::readFile(msSend + "/" + name);
    }
    // Our sender (send) against our receiver on two threads over a socket pair.
    std::pair<int, int> runOurs(const std::function<int(CZModem&)>& run, std::string* command = nullptr,
                                std::vector<std::string>* writes = nullptr) {
        TestSupport::SocketPair pair;
        int theirs = -2;
        std::thread receiver([&, fd = pair.take(1)] { theirs = receive(fd, command); });
        TestSupport::ScriptedDescriptor line(pair.take(0));
        CZModem session(&line);
        session.set_path(msSend.c_str());
        int ours = run(session);
        line.close();  // a failed receiver ends at once instead of waiting out its time-outs
        receiver.join();
        if (writes) *writes = line.writes();
        return {ours, theirs};
    }

    TestSupport::TempDir mDir;
    std::string msSend, msRecv, msSz, msRz;
    int miPeerStatus = -2;
};

// ---------------------------------------------------------------- our sender and receiver, and lrzsz

// Each size takes the steps it should; a ZDATA header leaves in the same write as its subpacket.
TEST_F(ZModemSessions, FilesRoundTripWithTheExpectedSteps) {
    const struct {
        std::size_t size;
        std::string sent;
    } rows[] = {{0, "ZRQINIT ZFILE ZEOF:0 ZFIN"},
                {100, "ZRQINIT ZFILE ZDATA:0 ZEOF:100 ZFIN"},
                {1024, "ZRQINIT ZFILE ZDATA:0 ZEOF:1024 ZFIN"},
                {1025, "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZEOF:1025 ZFIN"},
                {5000, "ZRQINIT ZFILE ZDATA:0 ZDATA:1024 ZDATA:2048 ZDATA:3072 ZDATA:4096 ZEOF:5000 ZFIN"}};
    for (const auto& row : rows) {
        const std::string name = "f" + std::to_string(row.size), bytes = sendFile(name, row.size, 5);
        DebugLines lines;
        std::vector<std::string> writes;
        EXPECT_EQ(std::make_pair(0, 0), runOurs([&](CZModem& s) { return s.sendez(name.c_str(), 0, 0); }, nullptr, &writes));
        EXPECT_TRUE(bytes == received(name));
        std::string sent;
        for (const auto& w : writes) sent += headers(w).empty() ? "" : " " + headers(w);
        EXPECT_EQ(" " + row.sent, sent);
        for (const auto& w : writes)  // the subpacket's end is in the header's write
            EXPECT_TRUE(headers(w).rfind("ZDATA", 0) != 0 || w.find("\x18h") != w.npos || w.find("\x18k") != w.npos);
        EXPECT_EQ(row.size / 1024, static_cast<std::size_t>(lines.count("sent HexHeader ZACK\n")));
        EXPECT_EQ(1, lines.count("got Over'n'Out\n"));
    }
}

// Every size, and a file dense in the bytes the escaping is about, to one rz
// and from one sz, each in one session.
TEST_F(ZModemSessions, LrzszSessionsAreByteExact) {
    std::string special;
    for (int i = 0; i < 3000; ++i) special += "\x18\x11\r@\r\x13\x91\x93\x90\x10\x8d"[i % 11];
    const std::pair<std::string, std::string> files[] = {
        {"empty.bin", ""}, {"hundred.bin", TestSupport::randomBytes(100, 1)}, {"block.bin", TestSupport::randomBytes(1024, 2)},
        {"block1.bin", TestSupport::randomBytes(1025, 3)}, {"million.bin", TestSupport::randomBytes(1000000, 4)},
        {"special.bin", special}};
    std::vector<Base::String> paths;
    std::vector<std::string> args = {"-q"};
    for (const auto& [name, bytes] : files) {
        TestSupport::writeFile(msSend + "/" + name, bytes);
        paths.push_back(name.c_str());
        args.push_back(name);
    }
    for (int way = 0; way < 2; ++way) {
        for (const auto& [name, bytes] : files) std::filesystem::remove(msRecv + "/" + name);
        EXPECT_EQ(0, way ? withPeer(msSz, args, msSend, [&](CZModem& s) { s.set_path(msRecv.c_str()); return s.rec_z(1); })
                         : withPeer(msRz, {"-q"}, msRecv, [&](CZModem& s) { s.set_path(msSend.c_str()); return s.sendFiles(paths); }));
        EXPECT_EQ(0, miPeerStatus);
        for (const auto& [name, bytes] : files) EXPECT_TRUE(bytes == received(name)) << name << " " << way;
    }
}

// The options that change the wire: sz with 8 KiB subpackets, escaping every
// control character (announced with ZSINIT), a window (ZCRCQ subpackets that
// want an answer); rz escaping every control character (ESCCTL in its ZRINIT)
// and resuming a partial file itself.
TEST_F(ZModemSessions, WireVariantsOfBothPeersArriveByteExact) {
    std::string bytes = TestSupport::randomBytes(200000, 51);
    for (int i = 0; i < 3000; ++i) bytes[static_cast<std::size_t>(i) * 7] = "\x18\x11\r@\x05\x91"[i % 6];
    TestSupport::writeFile(msSend + "/v.bin", bytes);
    DebugLines lines;
    for (const auto& variant : std::vector<std::vector<std::string>>{{"-8"}, {"-e"}, {"-w", "8192"}, {"-e", "-8"}}) {
        std::filesystem::remove(msRecv + "/v.bin");
        std::vector<std::string> args = {"-q", "v.bin"};
        args.insert(args.end(), variant.begin(), variant.end());
        EXPECT_EQ(0, withPeer(msSz, args, msSend, [&](CZModem& s) { s.set_path(msRecv.c_str()); return s.rec_z(1); }));
        EXPECT_TRUE(miPeerStatus == 0 && bytes == received("v.bin")) << variant[0];
    }
    auto toRz = [&](std::vector<std::string> args) {
        return withPeer(msRz, args, msRecv, [&](CZModem& s) {
            s.set_path(msSend.c_str());
            return s.sendez("v.bin", 0, 0);
        });
    };
    std::filesystem::remove(msRecv + "/v.bin");
    EXPECT_EQ(0, toRz({"-q", "-e"}));
    EXPECT_TRUE(miPeerStatus == 0 && bytes == received("v.bin"));
    TestSupport::writeFile(msRecv + "/v.bin", std::string(40000, 'Z'));
    EXPECT_EQ(0, toRz({"-q", "-r"}));
    EXPECT_EQ(1, lines.count("got ZRPOS 39936\n"));  // rz resumes at the last whole KiB it has
    EXPECT_TRUE(std::string(39936, 'Z') + bytes.substr(39936) == received("v.bin"));
}

// ---------------------------------------------------------------- damage on the line

// One damaged byte (placed by a seed) in the first frame of each kind, in the
// direction it travels: both sides still end well and the file is byte-exact,
// ours to ours and with lrzsz on either side ('o', 'r', 's').
TEST_F(ZModemSessions, OneDamagedByteInAnyFrameIsRecovered) {
    const struct {
        const char* kind;
        int direction;  // 0: sender to receiver
        std::vector<std::string> marks;
        int from, to;
        const char* pairings;
    } rows[] = {{"ZRQINIT", 0, {"**\x18" "B00"}, 0, 21, "ors"},
                {"ZRINIT", 1, {"**\x18" "B01"}, 0, 21, "ors"},
                {"ZFILE", 0, {"*\x18" "C\x04"}, 0, 12, "ors"},
                {"ZFILE subpacket", 0, {"fault.bin"}, 0, 14, "ors"},
                {"ZDATA", 0, {"*\x18" "C\x0a"}, 0, 12, "ors"},
                {"data subpacket", 0, {"*\x18" "C\x0a"}, 20, 900, "ors"},
                {"its CRC", 0, {"*\x18" "C\x0a", "\x18\x01"}, 2, 6, "ors"},
                {"ZACK", 1, {"**\x18" "B03"}, 0, 20, "or"},  // sz streams: no ZACK on a clean line
                {"ZRPOS", 1, {"**\x18" "B09"}, 0, 21, "ors"},
                {"ZEOF", 0, {"*\x18" "C\x0b"}, 0, 12, "ors"},
                {"ZFIN", 0, {"**\x18" "B08"}, 0, 20, "ors"},
                {"ZFIN answer", 1, {"**\x18" "B08"}, 0, 20, "ors"},
                {"OO", 0, {"**\x18" "B08", "OO"}, 0, 2, "ors"}};
    sendFile("fault.bin", 3000, 71);
    unsigned seed = 1;
    for (const auto& row : rows) {
        for (const char* pairing = row.pairings; *pairing; ++pairing, seed += 7) {
            SCOPED_TRACE(std::string(row.kind) + " " + *pairing + " seed " + std::to_string(seed));
            std::filesystem::remove(msRecv + "/fault.bin");
            auto placed = std::make_shared<bool>(false);
            EXPECT_TRUE(relayed(*pairing, damageAt(row.direction, row.marks, row.from, row.to, seed, placed), "fault.bin"));
            EXPECT_TRUE(*placed);
        }
    }
}

// One byte in ten thousand damaged both ways: the transfer still completes.
TEST_F(ZModemSessions, ANoisyLineStillDeliversTheFile) {
    sendFile("noisy.bin", 256 * 1024, 72);
    for (char pairing : {'o', 'r', 's'}) {
        std::filesystem::remove(msRecv + "/noisy.bin");
        EXPECT_TRUE(relayed(pairing, TestSupport::ByteRelay::noise(1e-4, 9), "noisy.bin")) << pairing;
    }
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
        {"s.bin", 0, rinit + frame(Core::ZNAK) + frame(Core::ZRPOS) + rinit + fin, 0, "ZRQINIT ZFILE ZFILE ZDATA:0 ZEOF:100 ZFIN"},
        {"s.bin", 0, rinit + frame(Core::ZRPOS) + frame(Core::ZRPOS, 50) + rinit + fin, 0,
         "ZRQINIT ZFILE ZDATA:0 ZEOF:100 ZDATA:50 ZEOF:100 ZFIN"},
        {"m.bin", 0, rinit + frame(Core::ZRPOS) + frame(Core::ZFERR), E::ErrReceiverFileError, "ZRQINIT ZFILE ZDATA:0 CANCEL"},
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

// Our receiver against senders played from a script.
TEST_F(ZModemSessions, ReceiverAgainstScriptedSenders) {
    const std::string rqinit = frame(Core::ZRQINIT), fin = frame(Core::ZFIN) + "OO";
    const struct {
        std::string script;
        int result;
        std::string answers;
        std::string command;
    } rows[] = {
        {"rz\r" + rqinit + frame(Core::ZCAN), E::ErrCancelled, "ZRINIT CANCEL", ""},
        {rqinit + fin, 0, "ZRINIT ZFIN", ""},  // without "rz\r" the ZRQINIT starts the session
        {"rz\r" + rqinit + frame(Core::ZCOMMAND, 0, Core::ZBIN32) + sub(std::string("ls\0", 3)) + fin, 1,
         "ZRINIT ZCOMPL ZFIN", std::string("ls\0", 3)},
        {"hello ", E::ErrNoRz, "", ""},  // three silences without "rz\r"
    };
    for (const auto& row : rows) {
        TestSupport::ScriptedDevice line(row.script);
        CZModem session(&line);
        EXPECT_EQ(row.result, session.rec_z(3)) << row.answers;
        EXPECT_EQ(row.answers, headers(line.written()));
        EXPECT_EQ(row.command, session.getCmdStr().str());
    }
    // An offered name is cut to its last part or refused: nothing lands outside the folder.
    const std::pair<std::string, std::string> names[] = {{"../evil.txt", "evil.txt"}, {"/tmp/abs/evil2.txt", "evil2.txt"},
                                                         {"a/b/../../../evil3.txt", "evil3.txt"}, {"..", ""}, {".", ""}, {"dir/", ""}};
    for (const auto& [announced, landsAs] : names) {
        TestSupport::ScriptedDevice line("rz\r" + rqinit + frame(Core::ZFILE, 0, Core::ZBIN32) + sub(announced + '\0' + "5") +
                                         frame(Core::ZDATA, 0, Core::ZBIN32) + sub("hello", Core::ZCRCE) +
                                         frame(Core::ZEOF, 5, Core::ZBIN32) + fin);
        CZModem session(&line);
        session.set_path(msRecv.c_str());
        EXPECT_EQ(landsAs.empty() ? -1 : 0, session.rec_z(1)) << announced;
        if (!landsAs.empty()) { EXPECT_EQ("hello", received(landsAs)); }
    }
    std::size_t outside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(mDir.path())) outside += entry.is_regular_file();
    EXPECT_EQ(0u, outside);
}

// Commands: ours to rz (Debian's rz answers ZCOMPL without running it), sz
// to ours, ours to ours, and the exit status a receiver puts in ZCOMPL.
TEST_F(ZModemSessions, CommandsReachTheReceiver) {
    const std::string command = "touch made-by-command";
    int status = withPeer(msRz, {"-v", "-C"}, msRecv, [&](CZModem& s) { return s.sendez(command.c_str(), 1, int(command.size()) + 1); });
    EXPECT_TRUE(status >= 0 && status < 256 && miPeerStatus == 0) << status;
    EXPECT_NE(std::string::npos, TestSupport::readFile(mDir.file("peer.err")).find(command));
    std::string got;
    EXPECT_EQ(1, withPeer(msSz, {"-q", "-c", "echo hello"}, msSend, [&](CZModem& s) {
                  int r = s.rec_z(1);
                  got = s.getCmdStr().str();
                  return r;
              }));
    EXPECT_EQ("echo hello", got.substr(0, 10));
    EXPECT_EQ(std::make_pair(0, 1), runOurs([](CZModem& s) { return s.sendez("ls -l", 1, 6); }, &got));
    EXPECT_EQ(std::string("ls -l\0", 6), got);
    TestSupport::ScriptedDevice line(frame(Core::ZRINIT, 0x23000000) + frame(Core::ZCOMPL, 5u << 24) + frame(Core::ZFIN));
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
        EXPECT_EQ(0, withPeer(msSz, {"-q", "a.txt", "b.txt", "c.txt", "d.txt"}, msSend, [&](CZModem& s) {
                      s.set_path(msRecv.c_str());
                      s.setObserver(&seen);
                      s.setExistingFilePolicy(row.policy);
                      return s.rec_z(1);
                  }));
        EXPECT_EQ(0, miPeerStatus);
        EXPECT_EQ(row.outcomes, seen.lines);
        EXPECT_TRUE(a == received("a.txt") && row.b == received("b.txt") && row.c == received("c.txt") && row.d == received("d.txt"));
        EXPECT_TRUE(row.policy != P::Rename || (b == received("b.1.txt") && c == received("c.1.txt") && d == received("d.1.txt")));
    }
}

// Several files to one rz: one it has (rz -p keeps it), one missing (fails
// alone: the session goes on), one by its full path.
TEST_F(ZModemSessions, SendFilesToOneRz) {
    const std::string x1 = sendFile("x1.bin", 5000, 66), x2 = sendFile("x2.bin", 0, 67);
    sendFile("have.bin", 2000, 68);
    TestSupport::writeFile(msRecv + "/have.bin", "old");
    Outcomes seen;
    EXPECT_EQ(E::ErrFile, withPeer(msRz, {"-q", "-p"}, msRecv, [&](CZModem& s) {
                  s.set_path(msSend.c_str());
                  s.setObserver(&seen);
                  return s.sendFiles({"x1.bin", "have.bin", "none.bin", (msSend + "/x2.bin").c_str()});
              }));
    EXPECT_EQ(0, miPeerStatus);
    EXPECT_TRUE(x1 == received("x1.bin") && x2 == received("x2.bin") && "old" == received("have.bin"));
    EXPECT_EQ((std::vector<std::string>{"x1.bin sent", "have.bin skipped", "none.bin failed -1", "x2.bin sent"}), seen.lines);
}

// A receiver under a file-size limit cannot write the whole file: the session
// fails on both sides (the sender is cancelled) and the short file stays a
// true beginning of the offered one.
TEST_F(ZModemSessions, AFailedWriteEndsTheSessionOnBothSides) {
    const std::string bytes = sendFile("big.bin", 600000, 65);
    TestSupport::SocketPair pair;
    TestSupport::ChildProcess sz({msSz, "-q", "big.bin"}, {.directory = msSend, .stdinFd = pair.fd[1],
                                                            .stdoutFd = pair.fd[1], .stderrPath = mDir.file("sz.err")});
    ::close(pair.take(1));
    const int fd = pair.take(0);
    TestSupport::ChildProcess receiver([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200000, 200000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return receive(fd) == E::ErrFile ? 0 : 1;
    });
    ::close(fd);
    EXPECT_EQ(0, receiver.wait(20000));
    EXPECT_NE(0, sz.wait(20000));
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
    auto [sent, got] = runOurs([&](CZModem& s) {
        s.setObserver(&started);
        std::thread stopper([&] {
            started.promise.get_future().wait_for(std::chrono::seconds(20));
            s.Terminate();
        });
        int r = s.sendez("t.bin", 0, 0);
        stopper.join();
        EXPECT_TRUE(s.rec_z(3) == E::ErrAborted && s.rec_z(&memory) == E::ErrAborted && s.sendez("t.bin", 0, 0) == E::ErrAborted);
        return r;
    });
    EXPECT_EQ(E::ErrAborted, sent);
    EXPECT_NE(0, got);
    EXPECT_EQ(1, lines.count("Benutzer Abbruch !\n"));
    EXPECT_LT(std::filesystem::file_size(msRecv + "/t.bin"), 4000000u);
}

}  // namespace
