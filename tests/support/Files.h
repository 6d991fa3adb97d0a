#pragma once
// Files for tests: a fresh temporary folder, whole-file reads and writes,
// seeded random bytes and program lookup on PATH.

#include <string>

namespace TestSupport {

/// A fresh folder under the system's temporary directory, removed with
/// everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return msPath; }
    std::string file(const std::string& name) const { return msPath + "/" + name; }
    /// Creates the subfolder (and its parents) and returns its path.
    std::string sub(const std::string& name) const;

private:
    std::string msPath;
};

/// Whole contents of a file; "" when it is missing.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
/// n bytes of a seeded pseudo-random stream (the same seed gives the same bytes).
std::string randomBytes(std::size_t n, unsigned int seed);
/// The full path of an executable found on PATH, or "" when there is none.
std::string findProgram(const std::string& name);

}  // namespace TestSupport
