#pragma once
// ByteRelay: a line between two peers that can damage what it carries.
//
// It copies bytes both ways between two descriptors (socket ends) on a thread
// of its own and hands every chunk to a damage function first: noise (a
// random bit of a byte flipped with some probability), or one fault placed
// on cue. A side that closes is passed on as a half-close; the relay ends
// when both sides have closed, or when it is destroyed.

#include <functional>
#include <thread>

namespace TestSupport {

class ByteRelay {
public:
    /// Called with each chunk before it is passed on; may change the bytes in
    /// place. direction 0: from a to b, 1: from b to a.
    using Damage = std::function<void(int direction, char* bytes, std::size_t n)>;

    /// Takes over both descriptors (closed with the relay).
    ByteRelay(int a, int b, Damage damage);
    ~ByteRelay();
    ByteRelay(const ByteRelay&) = delete;
    ByteRelay& operator=(const ByteRelay&) = delete;

    /// Flips one random bit of a byte with probability p per byte, in both
    /// directions; the same seed gives the same damage.
    static Damage noise(double p, unsigned seed);

private:
    void run();

    int mFd[2];
    Damage mDamage;
    std::thread mThread;
};

}  // namespace TestSupport
