// ZModem::ZModemDebugSink: where the ZMODEM debug lines go.
#include <varonet/zmodem/ZModemDebugSink.h>

#include <atomic>
#include <mutex>

namespace ZModem {

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
ZModemDebugSink::Callback& sinkCallback() {
    static ZModemDebugSink::Callback cb;
    return cb;
}
std::atomic<bool> gbActive{false};
}  // namespace

void ZModemDebugSink::set(Callback callback) {
    std::lock_guard<std::mutex> guard(sinkMutex());
    gbActive.store(static_cast<bool>(callback), std::memory_order_release);
    sinkCallback() = std::move(callback);
}

bool ZModemDebugSink::isActive() { return gbActive.load(std::memory_order_acquire); }

void ZModemDebugSink::emit(const Base::String& line) {
    if (!isActive()) return;
    std::lock_guard<std::mutex> guard(sinkMutex());
    if (sinkCallback()) sinkCallback()(line);
}

}  // namespace ZModem
