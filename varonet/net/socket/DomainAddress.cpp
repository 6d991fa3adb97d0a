// Where a local pipe's socket file lives: the per-user folder, its checks, and names that fit.
#include <varonet/net/socket/DomainAddress.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <varonet/base/IOException.h>
#include <varonet/net/socket/SocketErrors.h>

namespace Net {

namespace {
std::mutex gDirectoryMutex;
Base::String gsDirectory;  // "" = the default

[[noreturn]] void refuseDirectory(const Base::String& directory, const char* why) {
    throw IO::Exception(ErrPipeCreate, ".", __LINE__, "pipe directory " + directory + ": " + why);
}
}  // namespace

Base::String DomainAddress::getDirectory() {
    std::lock_guard<std::mutex> guard(gDirectoryMutex);
    if (!gsDirectory.isEmpty()) return gsDirectory;
    return "/tmp/varonet-" + Base::String::fromUnsigned(::getuid());
}

void DomainAddress::setDirectory(const Base::String& directory) {
    std::lock_guard<std::mutex> guard(gDirectoryMutex);
    gsDirectory = directory;
}

void DomainAddress::ensureDirectory() {
    Base::String directory = getDirectory();
    if (::mkdir(directory.c_str(), 0700) < 0 && errno != EEXIST) refuseDirectory(directory, std::strerror(errno));
    struct stat st {};
    if (::lstat(directory.c_str(), &st) < 0) refuseDirectory(directory, std::strerror(errno));
    // Someone else's directory (or a link planted in /tmp) would let others reach our pipes.
    if (!S_ISDIR(st.st_mode)) refuseDirectory(directory, "not a directory");
    if (st.st_uid != ::getuid()) refuseDirectory(directory, "owned by another user");
    if ((st.st_mode & 0777) != 0700) refuseDirectory(directory, "not private (mode must be 0700)");
}

Base::String DomainAddress::getPath(const Base::String& name) {
    if (name.isEmpty() || name == "." || name == ".." || name.find('/') >= 0 || name.find('\0') >= 0)
        throw Base::Exception(ErrNameConversion, ".", __LINE__, "not a usable pipe name: " + name);
    Base::String path = getDirectory() + "/" + name;
    if (path.length() >= sizeof(sockaddr_un::sun_path))
        throw Base::Exception(ErrNameConversion, ".", __LINE__, "pipe name too long: " + name);
    return path;
}

socklen_t DomainAddress::toSockAddr(const Base::String& name, sockaddr_un& address) {
    Base::String path = getPath(name);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.length());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.length() + 1);
}

}  // namespace Net
