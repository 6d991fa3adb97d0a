// The simulated ISDN exchange: registrations, numbers that answer, refuse or are busy, and each call's events.
#include <varonet/sim/CapiExchange.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include <varonet/net/capi/CapiErrors.h>
#include <varonet/sim/detail/CapiCallEnd.h>

namespace Sim {

using namespace Capi;  // the backend's events, requests and result codes

namespace {
constexpr unsigned int kMaxDataBlocks = 7;
constexpr unsigned int kMinBlockSize = 128;
constexpr unsigned int kMaxBlockSize = 2048;

bool knownProtocol(const std::string& protocol) {
    return protocol == "X75" || protocol == "X25" || protocol == "X25D" || protocol == "V110";
}
}  // namespace

void CapiExchange::addNumber(const std::string& number, EAnswer answer) {
    std::lock_guard<std::mutex> guard(mMutex);
    mNumbers[number] = answer;
}

void CapiExchange::setRegistrationFails(bool fails) {
    std::lock_guard<std::mutex> guard(mMutex);
    mbRegistrationFails = fails;
}

std::unique_ptr<IO::Device> CapiExchange::takeCall(unsigned int ms) {
    std::unique_lock<std::mutex> guard(mMutex);
    if (!mChanged.wait_for(guard, std::chrono::milliseconds(ms), [&] { return !mHandedOver.empty(); })) return nullptr;
    int connection = mHandedOver.front();
    mHandedOver.pop_front();
    guard.unlock();
    return std::make_unique<CapiCallEnd>(shared_from_this(), connection);
}

std::vector<CapiExchange::CallRecord> CapiExchange::calls() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return mRecords;
}

std::size_t CapiExchange::countCalls(const std::string& number) const {
    std::lock_guard<std::mutex> guard(mMutex);
    return static_cast<std::size_t>(std::count_if(mRecords.begin(), mRecords.end(),
                                                  [&](const CallRecord& r) { return r.request.number == number; }));
}

std::size_t CapiExchange::activeCalls() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return static_cast<std::size_t>(
        std::count_if(mCalls.begin(), mCalls.end(), [](const auto& entry) { return entry.second.up; }));
}

std::size_t CapiExchange::registeredApplications() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return static_cast<std::size_t>(std::count_if(mApplications.begin(), mApplications.end(),
                                                  [](const auto& entry) { return !entry.second.released; }));
}

// --- the backend ------------------------------------------------------------------------

CapiExchange::Application* CapiExchange::liveApplication(unsigned int applicationId) {
    auto it = mApplications.find(applicationId);
    return it == mApplications.end() || it->second.released ? nullptr : &it->second;
}

void CapiExchange::post(unsigned int application, const CapiEvent& event) {
    if (Application* app = liveApplication(application)) app->events.push_back(event);
    mChanged.notify_all();
}

int CapiExchange::registerApplication(unsigned int maxLogicalConnections, unsigned int dataBlocks,
                                      unsigned int blockSize, unsigned int& applicationId, std::string& reason) {
    std::lock_guard<std::mutex> guard(mMutex);
    if (mbRegistrationFails) {
        reason = "the exchange refused the registration";
        return CapiErrRegistrationRefused;
    }
    if (maxLogicalConnections < 1 || dataBlocks < 1 || dataBlocks > kMaxDataBlocks || blockSize < kMinBlockSize ||
        blockSize > kMaxBlockSize) {
        reason = "registration figures out of range: " + std::to_string(maxLogicalConnections) + " connections, " +
                 std::to_string(dataBlocks) + " blocks of " + std::to_string(blockSize) + " bytes";
        return CapiErrBadParameters;
    }
    applicationId = muNextApplication++;
    Application& app = mApplications[applicationId];
    app.maxConnections = maxLogicalConnections;
    app.blockSize = blockSize;
    return CapiOk;
}

void CapiExchange::releaseApplication(unsigned int applicationId) {
    std::lock_guard<std::mutex> guard(mMutex);
    auto it = mApplications.find(applicationId);
    if (it == mApplications.end()) return;
    it->second.released = true;
    it->second.events.clear();
    for (auto& entry : mCalls)
        if (entry.second.application == applicationId) entry.second.up = false;
    mChanged.notify_all();
}

int CapiExchange::connect(unsigned int applicationId, const CallRequest& request, int& connection) {
    std::lock_guard<std::mutex> guard(mMutex);
    int result = CapiOk;
    Application* app = liveApplication(applicationId);
    auto number = mNumbers.find(request.number);
    std::size_t standing = static_cast<std::size_t>(std::count_if(mCalls.begin(), mCalls.end(), [&](const auto& e) {
        return e.second.up && e.second.application == applicationId;
    }));
    if (!app) result = CapiErrNotRegistered;
    else if (!knownProtocol(request.protocol)) result = CapiErrBadProtocol;
    else if (request.bChannels != 1) result = CapiErrBadChannelCount;
    else if (standing >= app->maxConnections) result = CapiErrTooManyConnections;
    else if (number == mNumbers.end()) result = CapiErrNoSuchNumber;
    else if (number->second == Refuse) result = CapiErrCallRejected;
    else if (number->second == Busy) result = CapiErrBusy;
    mRecords.push_back(CallRecord{request, applicationId, result});
    if (result != CapiOk) return result;

    connection = miNextConnection++;
    Call& call = mCalls[connection];
    call.application = applicationId;
    call.answer = number->second;
    if (call.answer == AnswerHandOver) {
        mHandedOver.push_back(connection);
        mChanged.notify_all();
    }
    return CapiOk;
}

int CapiExchange::disconnect(unsigned int applicationId, int connection) {
    std::lock_guard<std::mutex> guard(mMutex);
    auto it = mCalls.find(connection);
    if (!liveApplication(applicationId)) return CapiErrNotRegistered;
    if (it == mCalls.end() || it->second.application != applicationId) return CapiErrUnknownConnection;
    it->second.up = false;
    mChanged.notify_all();
    return CapiOk;
}

int CapiExchange::sendData(unsigned int applicationId, int connection, const char* data, std::size_t length) {
    std::lock_guard<std::mutex> guard(mMutex);
    Application* app = liveApplication(applicationId);
    if (!app) return CapiErrNotRegistered;
    auto it = mCalls.find(connection);
    if (it == mCalls.end() || it->second.application != applicationId) return CapiErrUnknownConnection;
    if (!it->second.up) return CapiErrNotConnected;
    if (length > app->blockSize) return CapiErrBadParameters;
    if (it->second.answer == AnswerEcho) {
        post(applicationId, CapiEvent{CapiEvent::Data, connection, std::string(data, length)});
    } else {
        it->second.toFarEnd.append(data, length);
        mChanged.notify_all();
    }
    return CapiOk;
}

bool CapiExchange::waitForEvent(unsigned int applicationId, CapiEvent& event, unsigned int ms) {
    std::unique_lock<std::mutex> guard(mMutex);
    auto ready = [&] {
        auto it = mApplications.find(applicationId);
        return it == mApplications.end() || it->second.released || !it->second.events.empty();
    };
    if (!mChanged.wait_for(guard, std::chrono::milliseconds(ms), ready)) return false;
    Application* app = liveApplication(applicationId);
    if (!app) {
        event = CapiEvent{CapiEvent::Released, 0, std::string()};
        return true;
    }
    event = std::move(app->events.front());
    app->events.pop_front();
    return true;
}

// --- the far end ------------------------------------------------------------------------------

long CapiExchange::farEndRead(int connection, char* buffer, long length, unsigned int ms) {
    if (length <= 0) return 0;
    std::unique_lock<std::mutex> guard(mMutex);
    Call& call = mCalls[connection];
    mChanged.wait_for(guard, std::chrono::milliseconds(ms), [&] { return !call.toFarEnd.empty() || !call.up; });
    std::size_t n = std::min(call.toFarEnd.size(), static_cast<std::size_t>(length));
    std::memcpy(buffer, call.toFarEnd.data(), n);
    call.toFarEnd.erase(0, n);
    return static_cast<long>(n);
}

bool CapiExchange::farEndWait(int connection, unsigned int ms) {
    std::unique_lock<std::mutex> guard(mMutex);
    Call& call = mCalls[connection];
    return mChanged.wait_for(guard, std::chrono::milliseconds(ms), [&] { return !call.toFarEnd.empty(); });
}

long CapiExchange::farEndSize(int connection) {
    std::lock_guard<std::mutex> guard(mMutex);
    auto it = mCalls.find(connection);
    return it == mCalls.end() ? 0 : static_cast<long>(it->second.toFarEnd.size());
}

bool CapiExchange::farEndIsUp(int connection) {
    std::lock_guard<std::mutex> guard(mMutex);
    auto it = mCalls.find(connection);
    return it != mCalls.end() && it->second.up;
}

long CapiExchange::farEndWrite(int connection, const char* data, long length) {
    std::lock_guard<std::mutex> guard(mMutex);
    auto it = mCalls.find(connection);
    if (it == mCalls.end() || !it->second.up || length <= 0) return 0;
    post(it->second.application,
         CapiEvent{CapiEvent::Data, connection, std::string(data, static_cast<std::size_t>(length))});
    return length;
}

void CapiExchange::farEndHangUp(int connection) {
    std::lock_guard<std::mutex> guard(mMutex);
    auto it = mCalls.find(connection);
    if (it == mCalls.end() || !it->second.up) return;
    it->second.up = false;
    post(it->second.application, CapiEvent{CapiEvent::Disconnected, connection, std::string()});
}

}  // namespace Sim
