#include "net/socket/DomainAddress.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "net/socket/SocketErrors.h"

namespace {

TEST(DomainAddressTest, NameMapsIntoThePerUserDirectory) {
    Net::DomainAddress::setDirectory("");
    Base::String directory = Net::DomainAddress::getDirectory();
    EXPECT_EQ(directory, "/tmp/varonet-" + std::to_string(::getuid()));
    EXPECT_EQ(Net::DomainAddress::getPath("gateway"), directory + "/gateway");
    Net::DomainAddress::setDirectory("/tmp/elsewhere");
    EXPECT_EQ(Net::DomainAddress::getPath("gw"), "/tmp/elsewhere/gw");
    sockaddr_un address;
    socklen_t length = Net::DomainAddress::toSockAddr("gw", address);
    EXPECT_STREQ(address.sun_path, "/tmp/elsewhere/gw");
    EXPECT_EQ(address.sun_family, AF_UNIX);
    EXPECT_EQ(length, offsetof(sockaddr_un, sun_path) + 18);
    Net::DomainAddress::setDirectory("");
}

TEST(DomainAddressTest, LongestNameThatFits) {
    Net::DomainAddress::setDirectory("/tmp/d");
    std::size_t room = sizeof(sockaddr_un::sun_path) - 1 - 7;  // "/tmp/d/" and the NUL
    EXPECT_NO_THROW(Net::DomainAddress::getPath(Base::String(room, 'x')));
    try {
        Net::DomainAddress::getPath(Base::String(room + 1, 'x'));
        FAIL();
    } catch (const Base::Exception& e) {
        EXPECT_EQ(e.getErrorCode(), Net::ErrNameConversion);
    }
    Net::DomainAddress::setDirectory("");
}

}  // namespace
