#pragma once
// Small helpers shared by the test programs: the error code a call throws,
// and bounded reads.

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <varonet/base/Device.h>
#include <varonet/base/Exception.h>
#include <varonet/base/StopWatch.h>

namespace TestSupport {

/// The code of the Base::Exception the call throws; 0 when it throws none.
inline unsigned int codeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Base::Exception& e) {
        return e.getErrorCode();
    }
    return 0;
}

/// The text (what()) of the Base::Exception the call throws; "" when it throws none.
inline std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Base::Exception& e) {
        return e.what();
    }
    return "";
}

/// The code of a call blocked in another thread and then woken by wake.
inline unsigned int codeWhenWoken(const std::function<void()>& blocked, const std::function<void()>& wake) {
    std::atomic<unsigned int> code{0};
    std::thread thread([&] { code = codeOf(blocked); });
    wake();
    thread.join();
    return code;
}

/// Reads until count bytes came, the stream ended, or ms passed in all.
inline std::string readFor(IO::Device& device, std::size_t count, unsigned int ms) {
    std::string out;
    OS::StopWatch watch;
    char buffer[65536];
    while (out.size() < count && device.waitForData(watch.getRemaining(ms))) {
        long n = device.read(buffer, static_cast<long>(std::min(sizeof buffer, count - out.size())));
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

/// Reads until count bytes came or the stream ended, each wait bounded by waitMs.
inline std::string readExactly(IO::Device& device, std::size_t count, unsigned int waitMs = 5000) {
    std::string out;
    char buffer[65536];
    while (out.size() < count && device.waitForData(waitMs)) {
        long n = device.readInternal(buffer, static_cast<long>(std::min(sizeof buffer, count - out.size())));
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

}  // namespace TestSupport
