// The ZMODEM file layer: file information, failed allocations, and an endless subpacket.
#include <varonet/zmodem/detail/CZModemFile.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <varonet/base/Exception.h>
#include <varonet/zmodem/CZModem.h>

#include "support/CountingAllocator.h"
#include "support/DescriptorDevice.h"
#include "support/Files.h"
#include "zmodem/ZModemTestKit.h"

using ZModem::CZModemFile;
using namespace ZModemTestKit;

namespace {

class CZModemFileTest : public ::testing::Test {
protected:
    TestSupport::TempDir mDir;
};

// The offer names a ".vrq" file ".zip"; failures are a result;
// the progress is a share of the size (none without one).
TEST_F(CZModemFileTest, FileInfoFailuresAndProgress) {
    TestSupport::writeFile(mDir.file("data.vrq"), std::string(300, 'v'));
    CZModemFile file;
    file.setSendNames(mDir.path().c_str(), "");
    ASSERT_TRUE(file.openForRead("data.vrq"));
    Base::ByteArray info;
    int size = 0;
    EXPECT_EQ(12, file.getFileInfo(info, size));
    EXPECT_EQ(std::string("data.zip\000300", 12), info.toString().str());
    EXPECT_FALSE(file.openForRead("missing.bin"));
    file.setReceiveNames(mDir.file("no/such/dir").c_str(), "x.bin");
    long position = 0;
    bool skip = false;
    EXPECT_EQ(-1, file.openForWrite(position, skip));
    Base::ByteArray chunk;
    int length = 0;
    // A file that cannot be read gives errors, never bytes read before; one that cannot be opened takes no writes.
    file.setSendNames("/proc/self", "");  // reading it from 0 fails
    ASSERT_TRUE(file.openForRead("mem"));
    EXPECT_EQ(-1, file.readChunk(chunk, 4, length));
    EXPECT_EQ(-1, file.readChunk(chunk, 4, length));
    file.setReceiveNames(mDir.sub("gone").c_str(), "x.bin");
    ASSERT_EQ(0, file.openForWrite(position, skip));
    file.close();
    std::filesystem::remove_all(mDir.file("gone"));
    EXPECT_FALSE(file.writeArray(chunk));
    file.setSize(0);
    EXPECT_EQ(0, file.getPercent());
    Base::MemoryDevice memory("abcdef", 6);
    EXPECT_TRUE(file.useMemoryDevice(&memory));
    EXPECT_EQ(0, file.readChunk(chunk, 4, length));
    EXPECT_EQ("abcd", chunk.toString().str());
    file.addProgress(3);
    EXPECT_EQ(50, file.getPercent());
}

#if VARONET_COUNTING_ALLOCATOR
namespace Heap = TestSupport::Allocations;

// Whichever allocation of the file layer (and of the session around it)
// fails, and when the device under it throws, what was made is given back,
// once: nothing leaks (the bytes in use return to where they were), nothing
// is freed twice (the sanitizer build).
TEST_F(CZModemFileTest, EveryFailedAllocationLeavesNothingBehind) {
    TestSupport::writeFile(mDir.file("a.bin"), std::string(100000, 'a'));
    TestSupport::ScriptedDevice line;
    struct Failing : Base::MemoryDevice {
        long readInternal(char*, long) override { throw Base::Exception(0, ".", __LINE__, "gone"); }
    } failing;
    auto scenario = [&] {
        Opened<ZModem::CZModem> session(&line);
        CZModemFile& file = *session.getFile();
        Base::ByteArray chunk;
        int length = 0;
        file.setSendNames(mDir.path().c_str(), "");
        if (file.openForRead("a.bin")) {
            file.readChunk(chunk, 1024, length);
            file.seek(70000);
            file.readChunk(chunk, 1024, length);
            file.getFileInfo(chunk, length);
        }
        file.close();
        for (int keep = 0; keep < 2; ++keep) {
            file.setReceiveNames(mDir.path().c_str(), "b.bin");
            file.setSize(100);
            long position = 0;
            bool skip = false;
            if (file.openForWrite(position, skip) != 0) continue;
            file.writeArray(chunk);
            if (keep) file.abandonWrite();
            else file.finishWrite();
        }
        file.useMemoryDevice(&failing);
        file.readChunk(chunk, 1024, length);
    };
    scenario();  // what is made once per process is made now
    const long before = Heap::bytes;
    int failed = 0;
    for (long n = 1; n < 100000; ++n) {
        std::filesystem::remove(mDir.file("b.bin"));
        Heap::failIn = n;
        try {
            scenario();
        } catch (const std::bad_alloc&) {
            // an operation may let it through; it must still clean up
        }
        const bool reached = Heap::failIn == 0;
        Heap::failIn = 0;
        if (!reached) break;
        ++failed;
        ASSERT_EQ(before, Heap::bytes.load()) << "after allocation " << n << " failed";
    }
    EXPECT_GT(failed, 20);
}

// A peer that offers a file and then sends 64 MiB of data with no frame end:
// the receiver refuses the endless subpacket as damaged, and the heap it uses
// meanwhile stays within a few MB (measured by the counting allocator above).
TEST_F(CZModemFileTest, AnEndlessSubpacketKeepsTheReceiverSmall) {
    TestSupport::SocketPair pair;
    TestSupport::DescriptorDevice line(pair.take(0), true);
    const std::string start = "rz\r" + frame(Core::ZFILE, 0, Core::ZBIN32) + sub(std::string("big\00099999999", 12)) +
                              frame(Core::ZDATA, 0, Core::ZBIN32);
    const std::string block(64 * 1024, 'A');
    std::thread peer([&, fd = pair.take(1)] {
        bool going = ::write(fd, start.data(), start.size()) == static_cast<long>(start.size());
        for (int k = 0; going && k < 1024; ++k) going = ::write(fd, block.data(), block.size()) == 64 * 1024;
        ::close(fd);
    });
    ZModem::CZModem session(&line);
    session.set_path(mDir.path().c_str());
    const long before = Heap::bytes;
    Heap::peak = before;
    EXPECT_NE(0, session.rec_z(1));
    EXPECT_LT(Heap::peak - before, 4L << 20);
    line.close();  // the peer's next write fails
    peer.join();
}
#endif

}  // namespace
