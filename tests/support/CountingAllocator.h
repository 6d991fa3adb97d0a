#pragma once
// CountingAllocator: every allocation of a test program counted, and one made
// to fail on cue. Include it in exactly one source file of the program: it
// replaces the global operator new and delete. ThreadSanitizer keeps those for
// itself; there VARONET_COUNTING_ALLOCATOR is 0 and nothing is replaced.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_THREAD__)
#define VARONET_COUNTING_ALLOCATOR 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VARONET_COUNTING_ALLOCATOR 0
#endif
#endif
#ifndef VARONET_COUNTING_ALLOCATOR
#define VARONET_COUNTING_ALLOCATOR 1
#endif

#if VARONET_COUNTING_ALLOCATOR
namespace TestSupport::Allocations {
inline std::atomic<long> blocks{0};          ///< blocks in use
inline std::atomic<long> bytes{0}, peak{0};  ///< bytes in use, and their highest count (reset it at will)
inline std::atomic<long> failIn{0};          ///< > 0: the allocation that brings it to 0 throws std::bad_alloc
constexpr std::size_t kHead = alignof(std::max_align_t);
}  // namespace TestSupport::Allocations

// Kept out of line: seen inline, the compiler takes the header in front of a
// block for an access outside it.
[[gnu::noinline]] void* operator new(std::size_t n) {
    using namespace TestSupport::Allocations;
    if (failIn > 0 && --failIn == 0) throw std::bad_alloc();
    void* block = std::malloc(n + kHead);
    if (block == nullptr) throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = n;
    ++blocks;
    const long now = bytes += static_cast<long>(n);
    for (long high = peak.load(); now > high && !peak.compare_exchange_weak(high, now);) {}
    return static_cast<char*>(block) + kHead;
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    void* block = static_cast<char*>(p) - TestSupport::Allocations::kHead;
    --TestSupport::Allocations::blocks;
    TestSupport::Allocations::bytes -= static_cast<long>(*static_cast<std::size_t*>(block));
    std::free(block);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
#endif
