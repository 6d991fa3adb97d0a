#pragma once
// Small helpers shared by the test programs: the error code a call throws,
// and bounded reads.

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>

#include <varonet/base/Device.h>
#include <varonet/base/Exception.h>
#include <varonet/base/StopWatch.h>
#include <varonet/udl/BaseDeviceResolver.h>

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

/// The device (or, for a T that is a server, the server) a locator resolves
/// to, as a T; null when it names none or another kind.
template <class T = IO::Device>
std::unique_ptr<T> resolveAs(const Base::String& locator, Log::Logger* logger = nullptr) {
    constexpr bool server = std::is_base_of_v<IO::DeviceServer, T>;
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<std::conditional_t<server, IO::DeviceServer, IO::Device>> made;
    if constexpr (server) made.reset(resolver.resolveServer(locator, logger, nullptr));
    else made.reset(resolver.resolve(locator, logger, nullptr));
    return std::unique_ptr<T>(dynamic_cast<T*>(made.get()) ? dynamic_cast<T*>(made.release()) : nullptr);
}

/// True while the thread tid of this process sleeps in the kernel (blocked in a wait).
inline bool isAsleep(long tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}

/// Runs call on a thread of its own and returns once that thread is blocked
/// (or after ms): the ready signal for a test that then wakes it. The future
/// gives call's result.
template <class Call>
auto startBlocked(Call call, unsigned int ms = 5000) {
    auto started = std::make_shared<std::promise<long>>();
    std::future<long> tid = started->get_future();
    auto result = std::async(std::launch::async, [started, call]() mutable {
        started->set_value(::syscall(SYS_gettid));
        return call();
    });
    const long id = tid.get();
    OS::StopWatch watch;
    while (!isAsleep(id) && watch.getElapsed() < ms) std::this_thread::yield();
    return result;
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

}  // namespace TestSupport
