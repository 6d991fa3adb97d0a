// The CAPI wrapper: registration, calls and data over the backend, and the receive thread that buffers data.
#include <varonet/net/capi/detail/CCapi.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include <varonet/net/capi/CapiErrors.h>

namespace Capi {

namespace {
// The receive thread looks at its stop request at least this often.
constexpr unsigned int kEventWaitMs = 500;

std::string text(const char* value) { return value ? std::string(value) : std::string(); }
}  // namespace

CCapi::CCapi(std::shared_ptr<CapiBackend> backend) : mpBackend(std::move(backend)) {}

CCapi::~CCapi() {
    stop();
    releaseCapi();
    join();
}

int CCapi::CreateCapi(char* message, unsigned int maxLogicalConnections, unsigned int dataBlocks,
                      unsigned int blockSize) {
    std::string reason;
    int result = CapiOk;
    if (mbRegistered) {
        reason = "already registered";
        result = CapiErrRegistrationRefused;
    } else if (!mpBackend) {
        reason = "no CAPI backend is installed";
        result = CapiErrNotInstalled;
    } else {
        result = mpBackend->registerApplication(maxLogicalConnections, dataBlocks, blockSize, muApplication, reason);
    }
    if (result == CapiOk) {
        mbRegistered = true;
        muBlockSize = blockSize;
        return CapiOk;
    }
    if (message) {
        std::size_t n = std::min(reason.size(), MessageBufferSize - 1);
        std::memcpy(message, reason.data(), n);
        message[n] = '\0';
    }
    return result;
}

void CCapi::releaseCapi() {
    if (!mbRegistered) return;
    mbRegistered = false;
    mpBackend->releaseApplication(muApplication);
    std::lock_guard<std::mutex> guard(mBufferMutex);
    for (auto& entry : mConnections) entry.second.up = false;
    mReceived.notify_all();
}

void CCapi::LogMessage(const char* value) {
    std::lock_guard<std::mutex> guard(mBufferMutex);
    msLastMessage = text(value);
}

Base::String CCapi::getLastMessage() {
    std::lock_guard<std::mutex> guard(mBufferMutex);
    return msLastMessage;
}

int CCapi::StartActiveConnect(int* connection, const char* protocol, const char* number, const char* ownMSN,
                              const char* logicalNumber, const char* callingX25Number, const char* userData,
                              int bChannels, const char* tei) {
    return StartActiveConnect(connection, {.protocol = text(protocol),
                                           .number = text(number),
                                           .ownMSN = text(ownMSN),
                                           .logicalNumber = text(logicalNumber),
                                           .callingX25Number = text(callingX25Number),
                                           .userData = text(userData),
                                           .tei = text(tei),
                                           .bChannels = bChannels});
}

int CCapi::StartActiveConnect(int* connection, const CallRequest& request) {
    if (!mbRegistered) return CapiErrNotRegistered;
    int handle = 0;
    int result = mpBackend->connect(muApplication, request, handle);
    if (result != CapiOk) return result;
    {
        std::lock_guard<std::mutex> guard(mBufferMutex);
        // Data may have come before this entry: the receive thread created it then.
        mConnections[handle].up = true;
    }
    if (connection) *connection = handle;
    return CapiOk;
}

int CCapi::StartActiveDisconnect(int connection) {
    if (!mbRegistered) return CapiErrNotRegistered;
    int result = mpBackend->disconnect(muApplication, connection);
    if (result == CapiOk) {
        std::lock_guard<std::mutex> guard(mBufferMutex);
        auto it = mConnections.find(connection);
        if (it != mConnections.end()) it->second.up = false;
        mReceived.notify_all();
    }
    return result;
}

int CCapi::StartSendB3Data(int connection, std::uint16_t length, const char* data) {
    if (!mbRegistered) return CapiErrNotRegistered;
    if (!isConnected(connection)) return CapiErrNotConnected;
    std::size_t sent = 0;
    do {
        std::size_t block = std::min<std::size_t>(length - sent, muBlockSize);
        int result = mpBackend->sendData(muApplication, connection, data + sent, block);
        if (result != CapiOk) return result;
        sent += block;
    } while (sent < length);
    return CapiOk;
}

int CCapi::GetReceiveB3Data(int connection, std::uint16_t* count, char* buffer, long length) {
    std::lock_guard<std::mutex> guard(mBufferMutex);
    auto it = mConnections.find(connection);
    if (it == mConnections.end()) return CapiErrUnknownConnection;
    std::string& received = it->second.received;
    std::size_t n = std::min<std::size_t>({received.size(), static_cast<std::size_t>(length > 0 ? length : 0), 65535u});
    if (n == 0) return CapiErrNoData;
    std::memcpy(buffer, received.data(), n);
    received.erase(0, n);
    if (count) *count = static_cast<std::uint16_t>(n);
    return CapiOk;
}

long CCapi::getReceiveBufferSize(int connection) {
    std::lock_guard<std::mutex> guard(mBufferMutex);
    auto it = mConnections.find(connection);
    return it == mConnections.end() ? 0 : static_cast<long>(it->second.received.size());
}

bool CCapi::waitForReceive(int connection, unsigned int ms) {
    std::unique_lock<std::mutex> guard(mBufferMutex);
    return mReceived.wait_for(guard, std::chrono::milliseconds(ms), [&] {
        auto it = mConnections.find(connection);
        return it != mConnections.end() && !it->second.received.empty();
    });
}

bool CCapi::isConnected(int connection) {
    std::lock_guard<std::mutex> guard(mBufferMutex);
    auto it = mConnections.find(connection);
    return it != mConnections.end() && it->second.up;
}

void CCapi::run() {
    // The registration is fixed while the thread runs: CreateCapi came first, releaseCapi ends it.
    std::shared_ptr<CapiBackend> backend = mpBackend;
    unsigned int application = muApplication;
    while (!isStopRequested()) {
        CapiEvent event;
        if (!backend->waitForEvent(application, event, kEventWaitMs)) continue;
        if (event.kind == CapiEvent::Released) return;
        std::lock_guard<std::mutex> guard(mBufferMutex);
        Connection& entry = mConnections[event.connection];
        if (event.kind == CapiEvent::Data) entry.received += event.data;
        else entry.up = false;
        mReceived.notify_all();
    }
}

}  // namespace Capi
