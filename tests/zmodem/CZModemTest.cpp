#include "zmodem/CZModem.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "support/ZModemLink.h"
#include "zmodem/CZModemFile.h"
#include "zmodem/ZModemDebugSink.h"
#include "zmodem/ZModemErrors.h"

using ZModem::CZModem;
using ZModem::ZModemErrors;

namespace {

// Collects the debug lines of a test (and removes the sink afterwards).
// ZMODEM_TRACE=1 in the environment also prints them (2: with the byte dumps),
// for looking into a failing exchange.
class DebugLines {
public:
    DebugLines() {
        const char* trace = std::getenv("ZMODEM_TRACE");
        int level = trace ? std::atoi(trace) : 0;
        ZModem::ZModemDebugSink::set([this, level](const Base::String& line) {
            std::lock_guard<std::mutex> guard(mMutex);
            bool dump = line.str().rfind("reading from device", 0) == 0 || line.str().rfind("0000 ", 0) == 0;
            if (level >= 2 || (level == 1 && !dump)) std::fputs(line.c_str(), stderr);
            mLines.push_back(line.str());
        });
    }
    ~DebugLines() { ZModem::ZModemDebugSink::set(nullptr); }
    int count(const std::string& line) {
        std::lock_guard<std::mutex> guard(mMutex);
        int n = 0;
        for (auto& l : mLines) n += l == line;
        return n;
    }
    bool containsPrefix(const std::string& prefix) {
        std::lock_guard<std::mutex> guard(mMutex);
        for (auto& l : mLines)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }

private:
    std::mutex mMutex;
    std::vector<std::string> mLines;
};

class ZModemLrzsz : public ::testing::Test {
protected:
    void SetUp() override {
        msSz = zmodemFindProgram("sz");
        msRz = zmodemFindProgram("rz");
        ASSERT_FALSE(msSz.empty()) << "sz not on PATH: install the Debian package lrzsz";
        ASSERT_FALSE(msRz.empty()) << "rz not on PATH: install the Debian package lrzsz";
        msSend = mDir.sub("send");
        msRecv = mDir.sub("recv");
    }

    // Our sendez (file mode) -> rz in the receive directory.
    int sendToRz(const std::string& name, const std::vector<std::string>& rzArgs = {"-q"}) {
        ZModemSocketPair pair;
        ZModemSocketDevice device(pair.take(0));
        ZModemPeerProcess rz;
        rz.start(msRz, rzArgs, msRecv, pair.fd[1], mDir.file("rz.err"));
        ::close(pair.take(1));
        CZModem session(&device);
        session.set_path(msSend.c_str());
        int r = session.sendez(name.c_str(), 0, 0);
        device.close();
        miPeerStatus = rz.wait(20000);
        return r;
    }

    // sz -> our rec_z into the receive directory.
    int receiveFromSz(const std::vector<std::string>& szArgs) {
        ZModemSocketPair pair;
        ZModemSocketDevice device(pair.take(0));
        ZModemPeerProcess sz;
        sz.start(msSz, szArgs, msSend, pair.fd[1], mDir.file("sz.err"));
        ::close(pair.take(1));
        CZModem session(&device);
        session.set_path(msRecv.c_str());
        int r = session.rec_z(1);
        msCommand = session.getCmdStr().str();
        device.close();
        miPeerStatus = sz.wait(20000);
        return r;
    }

    ZModemTempDir mDir;
    std::string msSz, msRz, msSend, msRecv, msCommand;
    int miPeerStatus = -2;
};

struct Payload {
    const char* name;
    std::string bytes;
};

std::vector<Payload> payloads() {
    std::string special;
    for (int i = 0; i < 3000; ++i) special += "\x18\x11\r@\r\x13\x91\x93\x90\x10\x8d"[i % 11];
    return {{"empty.bin", ""},
            {"hundred.bin", zmodemRandomBytes(100, 1)},
            {"block.bin", zmodemRandomBytes(1024, 2)},
            {"block1.bin", zmodemRandomBytes(1025, 3)},
            {"million.bin", zmodemRandomBytes(1000000, 4)},
            {"special.bin", special}};
}

TEST_F(ZModemLrzsz, OurSenderToRzArrivesByteExact) {
    for (const auto& p : payloads()) {
        SCOPED_TRACE(p.name);
        zmodemWriteFile(msSend + "/" + p.name, p.bytes);
        EXPECT_EQ(0, sendToRz(p.name));
        EXPECT_EQ(0, miPeerStatus);
        EXPECT_TRUE(p.bytes == zmodemReadFile(msRecv + "/" + p.name));
    }
}

TEST_F(ZModemLrzsz, SzToOurReceiverArrivesByteExact) {
    for (const auto& p : payloads()) {
        SCOPED_TRACE(p.name);
        zmodemWriteFile(msSend + "/" + p.name, p.bytes);
        EXPECT_EQ(0, receiveFromSz({"-q", p.name}));
        EXPECT_EQ(0, miPeerStatus);
        EXPECT_TRUE(p.bytes == zmodemReadFile(msRecv + "/" + p.name));
    }
}

// The option variants of sz that change the wire: 8 KiB subpackets, escaping
// of every control character (announced with ZSINIT), a window (ZCRCQ
// subpackets that want an answer).
TEST_F(ZModemLrzsz, SzWireVariantsArriveByteExact) {
    std::string bytes = zmodemRandomBytes(200000, 51);
    for (int i = 0; i < 3000; ++i) bytes[static_cast<std::size_t>(i) * 7] = "\x18\x11\r@\x05\x91"[i % 6];
    zmodemWriteFile(msSend + "/v.bin", bytes);
    DebugLines lines;
    std::vector<std::vector<std::string>> variants = {{"-8"}, {"-e"}, {"-w", "8192"}, {"-e", "-8"}};
    for (const auto& variant : variants) {
        SCOPED_TRACE(variant[0] + (variant.size() > 1 ? " " + variant[1] : ""));
        std::filesystem::remove(msRecv + "/v.bin");
        std::vector<std::string> args = {"-q"};
        args.insert(args.end(), variant.begin(), variant.end());
        args.push_back("v.bin");
        EXPECT_EQ(0, receiveFromSz(args));
        EXPECT_EQ(0, miPeerStatus);
        EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/v.bin"));
    }
}

// rz variants: escaping every control character (ESCCTL in its ZRINIT) and
// resuming a partial file itself (ZRPOS at its length).
TEST_F(ZModemLrzsz, RzWireVariantsArriveByteExact) {
    std::string bytes = zmodemRandomBytes(100000, 52);
    for (int i = 0; i < 3000; ++i) bytes[static_cast<std::size_t>(i) * 7] = "\x18\x11\r@\x05\x91"[i % 6];
    zmodemWriteFile(msSend + "/w.bin", bytes);
    DebugLines lines;
    EXPECT_EQ(0, sendToRz("w.bin", {"-q", "-e"})) << zmodemReadFile(mDir.file("rz.err"));
    EXPECT_EQ(0, miPeerStatus);
    EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/w.bin"));

    zmodemWriteFile(msRecv + "/w.bin", std::string(40000, 'Z'));
    EXPECT_EQ(0, sendToRz("w.bin", {"-q", "-r"}));
    // rz resumes at the last whole KiB of what it has.
    EXPECT_EQ(1, lines.count("got ZRPOS 39936\n"));
    EXPECT_TRUE(std::string(39936, 'Z') + bytes.substr(39936) == zmodemReadFile(msRecv + "/w.bin"));
}

// Debian's rz takes a command with -C but does not run it: it answers ZCOMPL
// with a status of its own. The session still completes with that status.
TEST_F(ZModemLrzsz, OurCommandReachesRz) {
    std::string command = "touch made-by-command";
    ZModemSocketPair pair;
    ZModemSocketDevice device(pair.take(0));
    ZModemPeerProcess rz;
    rz.start(msRz, {"-v", "-C"}, msRecv, pair.fd[1], mDir.file("rz.err"));
    ::close(pair.take(1));
    DebugLines lines;
    CZModem session(&device);
    int status = session.sendez(command.c_str(), 1, static_cast<int>(command.size()) + 1);
    EXPECT_GE(status, 0);
    EXPECT_LT(status, 256);
    device.close();
    EXPECT_EQ(0, rz.wait(20000));
    EXPECT_NE(std::string::npos, zmodemReadFile(mDir.file("rz.err")).find(command));
    EXPECT_EQ(1, lines.count("got HexHeader ZCOMPL\n"));
}

TEST_F(ZModemLrzsz, SzSendsSeveralFilesInOneSession) {
    std::vector<std::string> names = {"one.bin", "two.bin", "three.bin"};
    std::vector<std::string> args = {"-q"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        zmodemWriteFile(msSend + "/" + names[i], zmodemRandomBytes(3000 * (i + 1), static_cast<unsigned>(60 + i)));
        args.push_back(names[i]);
    }
    EXPECT_EQ(0, receiveFromSz(args));
    EXPECT_EQ(0, miPeerStatus);
    for (const auto& name : names)
        EXPECT_TRUE(zmodemReadFile(msSend + "/" + name) == zmodemReadFile(msRecv + "/" + name)) << name;
}

TEST_F(ZModemLrzsz, SzResumesAPartialFileAtItsLength) {
    std::string source = zmodemRandomBytes(800, 11);
    zmodemWriteFile(msSend + "/resume.bin", source);
    // A prefix that differs from the source proves the receiver continued at
    // byte 500 instead of starting again.
    zmodemWriteFile(msRecv + "/resume.bin", std::string(500, 'X'));
    EXPECT_EQ(0, receiveFromSz({"-q", "resume.bin"}));
    EXPECT_EQ(0, miPeerStatus);
    EXPECT_TRUE(std::string(500, 'X') + source.substr(500) == zmodemReadFile(msRecv + "/resume.bin"));

    std::string big = zmodemRandomBytes(300000, 12);
    zmodemWriteFile(msSend + "/big.bin", big);
    zmodemWriteFile(msRecv + "/big.bin", big.substr(0, 123457));
    EXPECT_EQ(0, receiveFromSz({"-q", "big.bin"}));
    EXPECT_TRUE(big == zmodemReadFile(msRecv + "/big.bin"));
}

TEST_F(ZModemLrzsz, SzCompleteFileIsSkipped) {
    std::string source = zmodemRandomBytes(800, 13);
    zmodemWriteFile(msSend + "/done.bin", source);
    zmodemWriteFile(msRecv + "/done.bin", std::string(800, 'Y'));  // same length: taken as complete
    DebugLines lines;
    EXPECT_EQ(0, receiveFromSz({"-q", "done.bin"}));
    EXPECT_EQ(std::string(800, 'Y'), zmodemReadFile(msRecv + "/done.bin"));
    EXPECT_EQ(1, lines.count("sent HexHeader ZSKIP\n"));
}

TEST_F(ZModemLrzsz, SzFullPathNameLandsInTheReceiveDirectory) {
    zmodemWriteFile(msSend + "/full.bin", "full path");
    EXPECT_EQ(0, receiveFromSz({"-q", "-f", msSend + "/full.bin"}));
    EXPECT_EQ("full path", zmodemReadFile(msRecv + "/full.bin"));
}

TEST_F(ZModemLrzsz, RzSkipsAFileItAlreadyHasAndSendezReturnsZero) {
    zmodemWriteFile(msSend + "/have.bin", zmodemRandomBytes(2000, 14));
    zmodemWriteFile(msRecv + "/have.bin", "old");
    DebugLines lines;
    EXPECT_EQ(0, sendToRz("have.bin", {"-q", "-p"}));
    EXPECT_EQ("old", zmodemReadFile(msRecv + "/have.bin"));
    EXPECT_EQ(1, lines.count("got ZSKIP\n"));
    EXPECT_EQ(1, lines.count("send Over'n'Out\n"));
}

TEST_F(ZModemLrzsz, SzCommandReachesOurReceiver) {
    DebugLines lines;
    EXPECT_EQ(1, receiveFromSz({"-q", "-c", "echo hello"}));
    EXPECT_EQ(std::string("echo hello"), msCommand.substr(0, 10));
    EXPECT_TRUE(lines.containsPrefix("Command : echo hello"));
}

TEST_F(ZModemLrzsz, MissingFileIsAFileError) {
    ZModemSocketPair pair;
    ZModemSocketDevice device(pair.take(0));
    ZModemPeerProcess rz;
    rz.start(msRz, {"-q"}, msRecv, pair.fd[1], mDir.file("rz.err"));
    ::close(pair.take(1));
    DebugLines lines;
    CZModem session(&device);
    session.set_path(msSend.c_str());
    EXPECT_EQ(-1, session.sendez("nothere.bin", 0, 0));
    EXPECT_TRUE(lines.containsPrefix("error open file " + msSend + "/nothere.bin : "));
    EXPECT_EQ(1, lines.count("sent canit\n"));
    device.close();
    rz.wait(20000);
}

// ---------------------------------------------------------------- our sender and receiver

struct Transfer {
    int sent = -2;
    int received = -2;
    std::string command;
};

// Runs our sender (sendez with text, mode, length) against our receiver
// (rec_z) over a socket pair; prepare may configure the two devices.
Transfer runOurs(const std::string& sendDir, const std::string& recvDir, const std::string& text, int mode, int length,
                 const std::function<void(ZModemSocketDevice&, CZModem&)>& prepare = nullptr) {
    ZModemSocketPair pair;
    ZModemSocketDevice a(pair.take(0));
    ZModemSocketDevice b(pair.take(1));
    Transfer t;
    CZModem sender(&a);
    sender.set_path(sendDir.c_str());
    if (prepare) prepare(a, sender);
    std::thread receiver([&] {
        CZModem session(&b);
        session.set_path(recvDir.c_str());
        t.received = session.rec_z(1);
        t.command = session.getCmdStr().str();
    });
    t.sent = sender.sendez(text.c_str(), mode, length);
    a.close();  // a failed receiver ends at once instead of waiting out its time-outs
    receiver.join();
    return t;
}

class ZModemSessions : public ::testing::Test {
protected:
    void SetUp() override {
        msSend = mDir.sub("send");
        msRecv = mDir.sub("recv");
    }
    ZModemTempDir mDir;
    std::string msSend, msRecv;
};

TEST_F(ZModemSessions, FilesRoundTripWithTheExpectedSteps) {
    struct Row {
        std::size_t size;
        int zdataHeaders;
        int zacks;
    } rows[] = {{0, 0, 0}, {100, 1, 0}, {1024, 1, 1}, {1025, 2, 1}, {5000, 5, 4}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        std::string name = "f" + std::to_string(row.size);
        std::string bytes = zmodemRandomBytes(row.size, static_cast<unsigned>(row.size));
        zmodemWriteFile(msSend + "/" + name, bytes);
        DebugLines lines;
        Transfer t = runOurs(msSend, msRecv, name, 0, 0);
        EXPECT_EQ(0, t.sent);
        EXPECT_EQ(0, t.received);
        EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/" + name));
        EXPECT_EQ(row.zdataHeaders, lines.count("sent Bin32Header ZDATA\n"));
        EXPECT_EQ(row.zacks, lines.count("sent HexHeader ZACK\n"));
        EXPECT_EQ(1, lines.count("sendZEOF\n"));
        EXPECT_EQ(1, lines.count("SendData finished with 0x0\n"));
        EXPECT_EQ(1, lines.count("got Over'n'Out\n"));
    }
}

// A copy keeps the path and the device and runs sessions of its own.
TEST_F(ZModemSessions, ACopiedSessionSendsOnItsOwn) {
    std::string bytes = zmodemRandomBytes(3000, 22);
    zmodemWriteFile(msSend + "/copy.bin", bytes);
    Transfer t = runOurs(msSend, msRecv, "copy.bin", 0, 0, [](ZModemSocketDevice&, CZModem& sender) {
        CZModem copy(sender);
        EXPECT_EQ(sender.get_path(), copy.get_path());
        EXPECT_EQ(sender.getDevice(), copy.getDevice());
        CZModem assigned(copy.getDevice());
        assigned = copy;
        EXPECT_EQ(sender.get_path(), assigned.get_path());
    });
    EXPECT_EQ(0, t.sent);
    EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/copy.bin"));
    ZModemSocketPair pair;
    ZModemSocketDevice a(pair.take(0));
    ZModemSocketDevice b(pair.take(1));
    CZModem original(&a);
    original.set_path(msSend.c_str());
    CZModem copy(original);
    std::filesystem::remove(msRecv + "/copy.bin");
    int received = -2;
    std::thread receiver([&] {
        CZModem session(&b);
        session.set_path(msRecv.c_str());
        received = session.rec_z(1);
    });
    EXPECT_EQ(0, copy.sendez("copy.bin", 0, 0));
    receiver.join();
    EXPECT_EQ(0, received);
    EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/copy.bin"));
}

TEST_F(ZModemSessions, ResumeAndSkipAgainstOurReceiver) {
    std::string bytes = zmodemRandomBytes(800, 21);
    zmodemWriteFile(msSend + "/r.bin", bytes);
    zmodemWriteFile(msRecv + "/r.bin", bytes.substr(0, 500));
    {
        DebugLines lines;
        Transfer t = runOurs(msSend, msRecv, "r.bin", 0, 0);
        EXPECT_EQ(0, t.sent);
        EXPECT_EQ(1, lines.count("got ZRPOS 500\n"));
        EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/r.bin"));
    }
    {
        DebugLines lines;
        Transfer t = runOurs(msSend, msRecv, "r.bin", 0, 0);
        EXPECT_EQ(0, t.sent);
        EXPECT_EQ(0, t.received);
        EXPECT_EQ(1, lines.count("got ZSKIP\n"));
        EXPECT_EQ(0, lines.count("sendFileData \n"));
    }
}

TEST_F(ZModemSessions, CommandToOurReceiver) {
    DebugLines lines;
    std::string command = "ls -l /tmp";
    Transfer t = runOurs(msSend, msRecv, command, 1, static_cast<int>(command.size()) + 1);
    EXPECT_EQ(0, t.sent);  // the exit status our receiver reports
    EXPECT_EQ(1, t.received);
    EXPECT_EQ(command + std::string(1, '\0'), t.command);
    EXPECT_EQ(1, lines.count("sendez commandmode ls -l /tmp\n"));
    EXPECT_EQ(1, lines.count("Command : " + command + std::string(1, '\0') + "\n"));
}

// A receiver played on a bare core answers the command with exit status 5.
TEST_F(ZModemSessions, CommandExitStatusComesFromZcompl) {
    ZModemSocketPair pair;
    ZModemSocketDevice a(pair.take(0));
    ZModemSocketDevice b(pair.take(1));
    std::string seen;
    std::thread peer([&] {
        ZModem::CZModemCore core(&b, false);
        core.setTimeoutUnit(50);
        for (int k = 0; k < 20 && core.getZMHeader(5000) == 0; ++k) {
            int type = core.getHeaderType();
            if (type == ZModem::CZModemCore::ZRQINIT) core.sendZRINIT(0);
            if (type == ZModem::CZModemCore::ZCOMMAND) {
                core.getDataBuffer().clear();
                core.getData();
                seen = core.getDataBuffer().toString().str();
                unsigned char d[4] = {0, 0, 0, 5};
                core.setHeader(ZModem::CZModemCore::ZHEX, ZModem::CZModemCore::ZCOMPL, d);
                core.sendHeader();
            }
            if (type == ZModem::CZModemCore::ZFIN) {
                core.sendZFIN();
                core.getOO();
                break;
            }
        }
    });
    CZModem sender(&a);
    EXPECT_EQ(5, sender.sendez("make", 1, 4));
    peer.join();
    EXPECT_EQ("make", seen);
}

TEST_F(ZModemSessions, CorruptedSubpacketIsRepositionedAndTheFileArrivesIntact) {
    std::string bytes = zmodemRandomBytes(5000, 31);
    zmodemWriteFile(msSend + "/c.bin", bytes);
    DebugLines lines;
    // The third subpacket (file offset 2048) loses a bit on the way.
    Transfer t = runOurs(msSend, msRecv, "c.bin", 0, 0,
                         [](ZModemSocketDevice& device, CZModem&) { device.corruptWrite(3, 300, 1000); });
    EXPECT_EQ(0, t.sent);
    EXPECT_EQ(0, t.received);
    EXPECT_EQ(1, lines.count("ZRPOS newpos: 2048\n"));
    EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/c.bin")) << zmodemReadFile(msRecv + "/c.bin").size();
}

TEST_F(ZModemLrzsz, CorruptedStreamFromSzIsRepositionedAndTheFileArrivesIntact) {
    std::string bytes = zmodemRandomBytes(1000000, 32);
    zmodemWriteFile(msSend + "/c.bin", bytes);
    ZModemSocketPair pair;
    ZModemSocketDevice device(pair.take(0));
    device.corruptRead(400000);
    ZModemPeerProcess sz;
    sz.start(msSz, {"-q", "c.bin"}, msSend, pair.fd[1], mDir.file("sz.err"));
    ::close(pair.take(1));
    DebugLines lines;
    CZModem session(&device);
    session.set_path(msRecv.c_str());
    EXPECT_EQ(0, session.rec_z(1));
    device.close();
    EXPECT_EQ(0, sz.wait(20000));
    EXPECT_GE(lines.count("sent HexHeader ZRPOS\n"), 2);
    EXPECT_TRUE(bytes == zmodemReadFile(msRecv + "/c.bin")) << zmodemReadFile(msRecv + "/c.bin").size();
}

TEST_F(ZModemSessions, TerminateFromAnotherThreadEndsARunningTransfer) {
    zmodemWriteFile(msSend + "/t.bin", zmodemRandomBytes(4000000, 41));
    DebugLines lines;
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    std::thread stopper;
    Transfer t = runOurs(msSend, msRecv, "t.bin", 0, 0, [&](ZModemSocketDevice& device, CZModem& sender) {
        device.onWrite([&](int n, long) {
            if (n == 50) {
                std::lock_guard<std::mutex> g(m);
                started = true;
                cv.notify_one();
            }
        });
        stopper = std::thread([&] {
            std::unique_lock<std::mutex> lock(m);
            cv.wait_for(lock, std::chrono::seconds(20), [&] { return started; });
            sender.Terminate();
        });
    });
    stopper.join();
    EXPECT_EQ(ZModemErrors::ErrAborted, t.sent);
    EXPECT_NE(0, t.received);
    EXPECT_EQ(1, lines.count("Benutzer Abbruch !\n"));
    EXPECT_LT(std::filesystem::file_size(msRecv + "/t.bin"), 4000000u);
}

// A sender played on a bare core offers a name; the receiver's answer and
// where (whether) the file lands.
struct NameCase {
    std::string announced;
    std::string landsAs;  // "" : refused
};

TEST_F(ZModemSessions, ReceivedNamesNeverLeaveTheReceiveDirectory) {
    NameCase cases[] = {{"../evil.txt", "evil.txt"},
                        {"/tmp/abs/evil2.txt", "evil2.txt"},
                        {"a/b/../../../evil3.txt", "evil3.txt"},
                        {"..", ""},
                        {"dir/", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.announced);
        ZModemSocketPair pair;
        ZModemSocketDevice a(pair.take(0));
        ZModemSocketDevice b(pair.take(1));
        int received = -2;
        std::thread receiver([&] {
            CZModem session(&b);
            session.set_path(msRecv.c_str());
            received = session.rec_z(1);
            b.close();
        });
        ZModem::CZModemCore core(&a, false);
        core.setTimeoutUnit(50);
        core.sendrz();
        core.sendZRQInit_X(0);
        ASSERT_EQ(0, core.getZMHeader(5000));
        ASSERT_EQ(ZModem::CZModemCore::ZRINIT, core.getHeaderType());
        std::string info = c.announced + std::string(1, '\0') + "5";
        core.sendZFILE();
        core.sendData32(reinterpret_cast<const unsigned char*>(info.data()), static_cast<int>(info.size()),
                        ZModem::CZModemCore::ZCRCW);
        int r = core.getZMHeader(5000);
        if (!c.landsAs.empty()) {
            ASSERT_EQ(0, r);
            ASSERT_EQ(ZModem::CZModemCore::ZRPOS, core.getHeaderType());
            core.sendZDATA(0);
            core.sendData32(reinterpret_cast<const unsigned char*>("hello"), 5, ZModem::CZModemCore::ZCRCE);
            core.sendZEOF(5);
            EXPECT_EQ(0, core.getZMHeader(5000));
            core.sendZFIN();
            core.getZMHeader(5000);
            core.sendOO();
        }
        receiver.join();
        if (c.landsAs.empty()) {
            EXPECT_EQ(-1, received);
        } else {
            EXPECT_EQ(0, received);
            EXPECT_EQ("hello", zmodemReadFile(msRecv + "/" + c.landsAs));
        }
    }
    // Nothing was written beside the receive directory.
    std::size_t outside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(mDir.path())) outside += entry.is_regular_file();
    EXPECT_EQ(0u, outside);
}

// Without "rz\r" the receiver gives up after count silences; a peer that has
// gone makes each wait end at once.
TEST_F(ZModemSessions, ReceiverWithoutRzGivesUpAfterCountSilences) {
    ZModemSocketPair pair;
    ZModemSocketDevice a(pair.take(0));
    ZModemSocketDevice b(pair.take(1));
    DebugLines lines;
    ASSERT_EQ(6, ::write(b.getFd(), "hello ", 6));  // no "rz\r" in it
    b.close();
    CZModem receiver(&a);
    EXPECT_EQ(ZModemErrors::ErrNoRz, receiver.rec_z(3));
    EXPECT_EQ(3, lines.count("Timeout getNextCh\n"));
}

TEST_F(ZModemSessions, TerminatedSessionStaysTerminated) {
    ZModemSocketPair pair;
    ZModemSocketDevice a(pair.take(0));
    ::close(pair.take(1));
    CZModem session(&a);
    session.Terminate();
    EXPECT_EQ(ZModemErrors::ErrAborted, session.rec_z(3));
    Base::MemoryDevice memory;
    EXPECT_EQ(ZModemErrors::ErrAborted, session.rec_z(&memory));
    zmodemWriteFile(msSend + "/a.bin", "a");
    session.set_path(msSend.c_str());
    EXPECT_EQ(ZModemErrors::ErrAborted, session.sendez("a.bin", 0, 0));
}

// The ZRINIT waits are fixed at 10 s each (no shorter unit exists): this test takes
// about 60 s. It is disabled here and run under the CTest label "slow".
TEST_F(ZModemSessions, DISABLED_SlowReceiverThatNeverAnswers) {
    ZModemSocketPair pair;
    ZModemSocketDevice a(pair.take(0));
    DebugLines lines;
    CZModem sender(&a);
    sender.set_path(msSend.c_str());
    zmodemWriteFile(msSend + "/x.bin", "x");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ZModemErrors::ErrNoReceiver, sender.sendez("x.bin", 0, 0));
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(7, lines.count("sent HexHeader ZRQINIT\n"));
    EXPECT_EQ(2, lines.count("sent canit\n"));
    EXPECT_EQ(1, lines.count("Fehler : wcsend, getzrxinit\n"));
    EXPECT_GE(seconds, 59);
    EXPECT_LE(seconds, 70);
    // What reached the silent end: "rz\r", seven ZRQINIT and two cancel sequences.
    std::string wire(4096, '\0');
    long n = ::read(pair.fd[1], wire.data(), wire.size());
    EXPECT_EQ(3 + 7 * 21 + 2 * 21, n);
}

}  // namespace
