#pragma once
// What the relay throughput benches share: a transfer's result, the median of
// runs, this program's path (to start itself as the relay) and the relay's
// side: two partnered proxies, their serial ports linked, until SIGTERM.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <varonet/udl/Proxy.h>
#include <varonet/udl/SerialPortLink.h>

namespace Bench {

struct Result {
    double mbPerSecond = 0;
    double cpuPerGiB = 0;
    double peakMiB = 0;
};

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

inline std::string selfPath() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

/// The relay as the varonet tool runs it, between locators a and b, until SIGTERM.
inline int runRelay(const char* a, const char* b) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);  // the proxies' threads inherit the mask
    {
        UDL::Proxy first(a, nullptr), second(b, nullptr);
        first.partner(second);
        UDL::SerialPortLink link(first, second);
        first.start();
        second.start();
        int sig = 0;
        ::sigwait(&set, &sig);
    }
    return 0;
}

}  // namespace Bench
