// Temporary folders, whole-file reads and writes, seeded random bytes and program lookup for tests.
#include "support/Files.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace TestSupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varonet-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    msPath = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(msPath, ignored);
}

std::string TempDir::sub(const std::string& name) const {
    std::filesystem::create_directories(file(name));
    return file(name);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string randomBytes(std::size_t n, unsigned int seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; i += 8) {
        std::uint64_t value = generator();
        for (std::size_t k = 0; k < 8 && i + k < n; ++k) bytes[i + k] = static_cast<char>(value >> (8 * k));
    }
    return bytes;
}

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

}  // namespace TestSupport
