#include "zmodem/CZModem.h"

#include <gtest/gtest.h>

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
class DebugLines {
public:
    DebugLines() {
        ZModem::ZModemDebugSink::set([this](const Base::String& line) {
            std::lock_guard<std::mutex> guard(mMutex);
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
        EXPECT_EQ(p.bytes, zmodemReadFile(msRecv + "/" + p.name));
    }
}

TEST_F(ZModemLrzsz, SzToOurReceiverArrivesByteExact) {
    for (const auto& p : payloads()) {
        SCOPED_TRACE(p.name);
        zmodemWriteFile(msSend + "/" + p.name, p.bytes);
        EXPECT_EQ(0, receiveFromSz({"-q", p.name}));
        EXPECT_EQ(0, miPeerStatus);
        EXPECT_EQ(p.bytes, zmodemReadFile(msRecv + "/" + p.name));
    }
}

}  // namespace
