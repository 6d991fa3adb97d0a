#pragma once
// Child processes and private directories for the local pipe tests.

#include <sys/types.h>

#include <functional>
#include <string>

namespace SocketTest {

/// Runs body in a forked child that ends with body's result (99 when it throws),
/// without running the parent's destructors.
pid_t runChild(const std::function<int()>& body);
/// The child's exit code, or -1 when it did not end within ms (it is killed then).
int waitChild(pid_t pid, unsigned int ms);

/// A fresh directory under /tmp, removed with everything in it at the end.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& getPath() const { return msPath; }

private:
    std::string msPath;
};

}  // namespace SocketTest
