#pragma once
// A fresh temporary folder for one test, removed with everything in it.

#include <filesystem>
#include <string>

namespace TestSupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return mPath; }
    std::string file(const std::string& name) const { return (mPath / name).string(); }

private:
    std::filesystem::path mPath;
};

/// Whole contents of a file (empty when missing).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

}  // namespace TestSupport
