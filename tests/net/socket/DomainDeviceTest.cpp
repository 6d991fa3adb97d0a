// Local pipes: names in the per-user folder, one server per name, and callers that come and go.
#include <varonet/net/socket/DomainDevice.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/SocketErrors.h>
#include "support/Files.h"
#include "support/Process.h"
#include "support/TestCalls.h"

namespace {

using TestSupport::codeOf;

// Every test gets its own pipe directory (created by the first server, mode 0700).
class DomainDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { Net::DomainAddress::setDirectory(msDirectory); }
    void TearDown() override { Net::DomainAddress::setDirectory(""); }

    TestSupport::TempDir mTemp;
    std::string msDirectory = mTemp.file("pipes");
    Net::DomainDevice mClient{"gateway"};
};

TEST(DomainAddressTest, NamesMapIntoThePerUserDirectoryUpToTheLongestThatFits) {
    EXPECT_EQ(Net::DomainAddress::getPath("gateway"), "/tmp/varonet-" + std::to_string(::getuid()) + "/gateway");
    Net::DomainAddress::setDirectory("/tmp/d");
    sockaddr_un address;
    EXPECT_EQ(Net::DomainAddress::toSockAddr("gw", address), offsetof(sockaddr_un, sun_path) + 10);
    EXPECT_STREQ(address.sun_path, "/tmp/d/gw");
    std::size_t room = sizeof(sockaddr_un::sun_path) - 1 - 7;  // "/tmp/d/" and the NUL
    EXPECT_EQ(codeOf([&] { Net::DomainAddress::getPath(Base::String(room, 'x')); }), 0u);
    for (const Base::String& bad : {Base::String(room + 1, 'x'), Base::String("/etc"), Base::String("a\0b", 3)})
        EXPECT_EQ(codeOf([&] { Net::DomainDevice(bad).open(); }), Net::ErrNameConversion) << bad.str();
    Net::DomainAddress::setDirectory("");
}

TEST_F(DomainDeviceTest, OneServerPerNameInAPrivateDirectory) {
    EXPECT_EQ(codeOf([&] { mClient.open(); }), unsigned(ENOENT));  // no server has ever listened there
    EXPECT_TRUE(mClient.isEOF());
    auto server = std::make_unique<Net::DomainServer>("gateway");
    auto copy = std::make_unique<Net::DomainServer>(*server);
    server.reset();  // the copy keeps the name
    EXPECT_EQ(codeOf([] { Net::DomainServer again("gateway"); }), Net::ErrPipeCreate);
    copy.reset();
    EXPECT_EQ(codeOf([] { Net::DomainServer again("gateway"); }), 0u);
    // A socket file left behind by a process that died does not block the name.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), Net::DomainAddress::toSockAddr("stale", address)), 0);
    ::close(fd);
    Net::DomainServer stale("stale");
    EXPECT_NO_THROW(Net::DomainDevice("stale").open());
    // The directory is private, and a server refuses one that others could enter.
    struct stat st {};
    ASSERT_EQ(::stat(msDirectory.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    Net::DomainAddress::setDirectory(mTemp.sub("open"));
    ASSERT_EQ(::chmod(mTemp.file("open").c_str(), 0755), 0);
    EXPECT_EQ(codeOf([] { Net::DomainServer exposed("gateway"); }), Net::ErrPipeCreate);
}

}  // namespace
