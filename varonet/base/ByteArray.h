#pragma once
// Base::ByteArray: a growable array of bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace Base {

class VARONET_API ByteArray {
public:
    ByteArray() = default;
    ByteArray(const char* data, std::size_t length) : mvData(data, data + length) {}
    ByteArray(const unsigned char* data, std::size_t length) : mvData(data, data + length) {}
    explicit ByteArray(std::size_t length, unsigned char fill = 0) : mvData(length, fill) {}
    ByteArray(std::initializer_list<unsigned char> bytes) : mvData(bytes) {}
    static ByteArray fromString(const String& text) { return ByteArray(text.data(), text.length()); }

    std::size_t size() const { return mvData.size(); }
    bool isEmpty() const { return mvData.empty(); }
    unsigned char* data() { return mvData.data(); }
    const unsigned char* data() const { return mvData.data(); }
    char* chars() { return reinterpret_cast<char*>(mvData.data()); }
    const char* chars() const { return reinterpret_cast<const char*>(mvData.data()); }
    unsigned char& operator[](std::size_t i) { return mvData[i]; }
    unsigned char operator[](std::size_t i) const { return mvData[i]; }

    void clear() { mvData.clear(); }
    void resize(std::size_t length) { mvData.resize(length); }
    void reserve(std::size_t length) { mvData.reserve(length); }
    void append(unsigned char byte) { mvData.push_back(byte); }
    void append(const void* data, std::size_t length) {
        const auto* p = static_cast<const unsigned char*>(data);
        mvData.insert(mvData.end(), p, p + length);
    }
    void append(const ByteArray& other) { mvData.insert(mvData.end(), other.mvData.begin(), other.mvData.end()); }
    /// Removes count bytes from the front (all when count exceeds the size).
    void removeFront(std::size_t count) {
        if (count > mvData.size()) count = mvData.size();
        mvData.erase(mvData.begin(), mvData.begin() + static_cast<std::ptrdiff_t>(count));
    }
    ByteArray mid(std::size_t start, std::size_t count = static_cast<std::size_t>(-1)) const {
        if (start >= mvData.size()) return ByteArray();
        std::size_t n = mvData.size() - start;
        if (count < n) n = count;
        return ByteArray(mvData.data() + start, n);
    }
    String toString() const { return String(chars(), mvData.size()); }

    /// Error detection code: seed XOR every byte (the T=1 LRC with seed 0).
    unsigned char getEDC(unsigned char seed = 0) const {
        unsigned char edc = seed;
        for (unsigned char b : mvData) edc ^= b;
        return edc;
    }

    friend bool operator==(const ByteArray& a, const ByteArray& b) { return a.mvData == b.mvData; }

    std::vector<unsigned char>& vector() { return mvData; }
    const std::vector<unsigned char>& vector() const { return mvData; }

private:
    std::vector<unsigned char> mvData;
};

}  // namespace Base
