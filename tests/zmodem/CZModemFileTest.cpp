#include <varonet/zmodem/CZModemFile.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <mutex>

#include "support/Files.h"
#include "support/Process.h"
#include "support/ScriptedDevice.h"
#include <varonet/zmodem/ZModemDebugSink.h>

using ZModem::CZModemFile;

namespace {

class CZModemFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZModem::ZModemDebugSink::set([this](const Base::String& l) {
            std::lock_guard<std::mutex> g(mMutex);
            mLines.push_back(l.str());
        });
    }
    void TearDown() override { ZModem::ZModemDebugSink::set(nullptr); }
    TestSupport::TempDir mDir;
    std::mutex mMutex;
    std::vector<std::string> mLines;
};

TEST_F(CZModemFileTest, FileInfoAnnouncesVrqAsZipWithTheSize) {
    TestSupport::writeFile(mDir.file("data.vrq"), std::string(300, 'v'));
    CZModemFile file;
    file.setSendNames(mDir.path().c_str(), "");
    ASSERT_TRUE(file.openForRead("data.vrq"));
    EXPECT_EQ(mDir.file("data.vrq"), file.getName().str());
    Base::ByteArray info;
    int size = 0;
    EXPECT_EQ(12, file.getFileInfo(info, size));
    EXPECT_EQ(300, size);
    EXPECT_EQ(std::string("data.zip\0" "300", 12), info.toString().str());
}

TEST_F(CZModemFileTest, ResumeAndSkipRule) {
    struct Row {
        std::size_t existing;  // 0: no file
        int announced;
        long position;
        bool skip;
    } rows[] = {{500, 800, 500, false}, {800, 800, 800, true}, {0, 800, 0, false}, {900, 800, 900, true}};
    ::umask(022);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.existing);
        std::string name = "r" + std::to_string(row.existing);
        if (row.existing) TestSupport::writeFile(mDir.file(name), std::string(row.existing, 'e'));
        CZModemFile file;
        file.setReceiveNames(mDir.path().c_str(), name.c_str());
        file.setSize(row.announced);
        long position = 0;
        bool skip = false;
        ASSERT_EQ(0, file.openForWrite(position, skip));
        EXPECT_EQ(row.position, position);
        EXPECT_EQ(row.skip, skip);
        EXPECT_EQ(static_cast<int>(row.position), file.getProgress());
        EXPECT_TRUE(file.writeArray(Base::ByteArray::fromString("tail")));
        file.close();
        EXPECT_EQ(std::string(row.existing, 'e') + "tail", TestSupport::readFile(mDir.file(name)));
        if (!row.existing) {  // a new file is created with mode 0640 ("rw-r-----")
            struct stat st {};
            ASSERT_EQ(0, ::stat(mDir.file(name).c_str(), &st));
            EXPECT_EQ(0640u, st.st_mode & 0777);
        }
    }
}

TEST_F(CZModemFileTest, FailuresAreOneLineAndAResult) {
    CZModemFile file;
    file.setSendNames(mDir.path().c_str(), "");
    EXPECT_FALSE(file.openForRead("missing.bin"));
    ASSERT_EQ(1u, mLines.size());
    EXPECT_EQ(0u, mLines[0].rfind("error open file " + mDir.file("missing.bin") + " : ", 0));
    EXPECT_EQ('\n', mLines[0].back());

    file.setReceiveNames(mDir.file("no/such/dir").c_str(), "x.bin");
    long position = 0;
    bool skip = false;
    EXPECT_EQ(-1, file.openForWrite(position, skip));
    EXPECT_EQ(2u, mLines.size());
}

TEST_F(CZModemFileTest, MemoryDeviceChunksAndProgress) {
    Base::MemoryDevice memory("abcdef", 6);
    CZModemFile file;
    EXPECT_EQ(0, file.getPercent());
    EXPECT_TRUE(file.useMemoryDevice(&memory));
    EXPECT_EQ(6, file.getSize());
    Base::ByteArray chunk;
    int length = 0;
    EXPECT_EQ(0, file.readChunk(chunk, 4, length));
    EXPECT_EQ("abcd", chunk.toString().str());
    file.addProgress(3);
    EXPECT_EQ(50, file.getPercent());
}

}  // namespace
