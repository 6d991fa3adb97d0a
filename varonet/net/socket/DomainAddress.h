#pragma once
// Net::DomainAddress: where a pipe name lives on this machine.
//
// A pipe NAME is an AF_UNIX stream socket whose file is DIR/NAME, with DIR a
// directory of the current user created with mode 0700, so only that user
// can connect. The mapping is made in getPath alone.

#include <sys/socket.h>
#include <sys/un.h>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace Net {

class VARONET_API DomainAddress {
public:
    /// The per-user directory: /tmp/varonet-UID unless setDirectory chose another.
    static Base::String getDirectory();
    /// Process-wide choice of the directory ("" restores the default).
    static void setDirectory(const Base::String& directory);
    /// Creates the directory with mode 0700 when absent. An existing one must be
    /// a directory owned by this user and closed to others (mode 0700);
    /// otherwise IO::Exception ErrPipeCreate says why.
    static void ensureDirectory();
    /// DIR/NAME. A name that cannot become a socket path (empty, ".", "..",
    /// holding "/" or NUL, too long for sun_path) raises Base::Exception
    /// ErrNameConversion.
    static Base::String getPath(const Base::String& name);
    /// The socket address of name; returns its length.
    static socklen_t toSockAddr(const Base::String& name, sockaddr_un& address);
};

}  // namespace Net
