// The process-wide default CAPI backend, set and read under a lock.
#include <varonet/net/capi/CapiBackend.h>

#include <mutex>

namespace Capi {

namespace {
std::mutex& defaultMutex() {
    static std::mutex mutex;
    return mutex;
}
std::shared_ptr<CapiBackend>& defaultBackend() {
    static std::shared_ptr<CapiBackend> backend;
    return backend;
}
}  // namespace

void CapiBackend::setDefault(std::shared_ptr<CapiBackend> backend) {
    std::lock_guard<std::mutex> guard(defaultMutex());
    defaultBackend() = std::move(backend);
}

std::shared_ptr<CapiBackend> CapiBackend::getDefault() {
    std::lock_guard<std::mutex> guard(defaultMutex());
    return defaultBackend();
}

}  // namespace Capi
