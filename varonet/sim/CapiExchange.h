#pragma once
// Sim::CapiExchange: an ISDN exchange inside the process, as a CAPI backend.
//
// Numbers are registered with what the called party does: answer and echo
// every data block, answer and hand the far end out as a device (takeCall),
// refuse the call, or be busy. Calls are instantaneous; data blocks are
// delivered in order. Registration checks its figures like a card would
// (1 or more logical connections, 1 to 7 data blocks, blocks of 128 to 2048
// bytes) and can be told to fail. Every connect request is recorded.
//
// Make it the process-wide default (Capi::CapiBackend::setDefault) so that
// CAPI devices built with default constructors reach it.

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <varonet/base/Device.h>
#include <varonet/base/Export.h>
#include <varonet/net/capi/CapiBackend.h>

namespace Sim {

class VARONET_API CapiExchange : public Capi::CapiBackend, public std::enable_shared_from_this<CapiExchange> {
public:
    enum EAnswer {
        AnswerEcho,      ///< answers and sends every data block back
        AnswerHandOver,  ///< answers; the far end is handed out by takeCall
        Refuse,          ///< the called party rejects the call
        Busy,            ///< the called party is busy
    };

    struct CallRecord {
        Capi::CallRequest request;
        unsigned int application;
        int result;  ///< what connect returned
    };

    /// Registers (or re-registers) a number; the number must be dialled exactly.
    void addNumber(const std::string& number, EAnswer answer);
    /// true: every registration fails with CapiErrRegistrationRefused.
    void setRegistrationFails(bool fails);

    /// Waits at most ms for an answered call to a hand-over number and returns
    /// its far end (the caller owns it); null when none came. Reading the far
    /// end gives what the caller sent, writing it sends to the caller, closing
    /// or deleting it clears the call.
    std::unique_ptr<IO::Device> takeCall(unsigned int ms);

    std::vector<CallRecord> calls() const;
    /// Connect requests for number so far, answered or not.
    std::size_t countCalls(const std::string& number) const;
    /// Calls that stand now.
    std::size_t activeCalls() const;
    /// Registrations not yet released.
    std::size_t registeredApplications() const;

    // --- the backend ---
    int registerApplication(unsigned int maxLogicalConnections, unsigned int dataBlocks, unsigned int blockSize,
                            unsigned int& applicationId, std::string& reason) override;
    void releaseApplication(unsigned int applicationId) override;
    int connect(unsigned int applicationId, const Capi::CallRequest& request, int& connection) override;
    int disconnect(unsigned int applicationId, int connection) override;
    int sendData(unsigned int applicationId, int connection, const char* data, std::size_t length) override;
    bool waitForEvent(unsigned int applicationId, Capi::CapiEvent& event, unsigned int ms) override;

    // --- the far end of a handed-out call (Sim::CapiCallEnd) ---
    /// Waits at most ms for the first byte, then takes what is there; 0 when the call is down and drained.
    long farEndRead(int connection, char* buffer, long length, unsigned int ms);
    bool farEndWait(int connection, unsigned int ms);
    long farEndSize(int connection);
    bool farEndIsUp(int connection);
    /// 0 when the call is down.
    long farEndWrite(int connection, const char* data, long length);
    void farEndHangUp(int connection);

private:
    struct Application {
        unsigned int maxConnections = 1;
        unsigned int blockSize = 0;
        std::deque<Capi::CapiEvent> events;
        bool released = false;
    };
    struct Call {
        unsigned int application = 0;
        EAnswer answer = AnswerEcho;
        std::string toFarEnd;
        bool up = true;
    };

    void post(unsigned int application, const Capi::CapiEvent& event);
    Application* liveApplication(unsigned int applicationId);

    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    std::map<std::string, EAnswer> mNumbers;
    bool mbRegistrationFails = false;
    std::map<unsigned int, Application> mApplications;
    unsigned int muNextApplication = 1;
    std::map<int, Call> mCalls;
    int miNextConnection = 1;
    std::deque<int> mHandedOver;
    std::vector<CallRecord> mRecords;
};

}  // namespace Sim
