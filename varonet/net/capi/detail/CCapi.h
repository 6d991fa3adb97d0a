#pragma once
// Capi::CCapi: the CAPI wrapper behind Net::CapiDevice.
//
//   application            CCapi                      backend (exchange)
//     CreateCapi ------------> registerApplication ---->
//     start (receive thread) ---- waitForEvent <-------- data / cleared call
//     StartActiveConnect ----> connect ---------------->  (returns when the call stands)
//     StartSendB3Data -------> sendData (block by block) ->
//     GetReceiveB3Data <------ receive buffer <--------- filled by the receive thread
//     StartActiveDisconnect -> disconnect -------------->
//     stop, releaseCapi, join -> releaseApplication ---->  (wakes the receive thread)
//
// Every call returns a CapiResult: 0 for success. The wrapper is a thread
// (its run() is the receive loop) and a lock: callers that must not
// interleave their calls hold it with Thread::Synchronized. The receive
// buffers have a lock of their own, so the receive thread never waits for
// a caller that holds the wrapper's lock.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <varonet/base/Lockable.h>
#include <varonet/base/String.h>
#include <varonet/base/Thread.h>
#include <varonet/net/capi/CapiBackend.h>

namespace Capi {

class CCapi : public Thread::Thread, public Base::Lockable {
public:
    /// Size of the message buffer CreateCapi fills on failure (terminator included).
    static constexpr std::size_t MessageBufferSize = 1024;

    /// A wrapper over backend (Capi::CapiBackend::getDefault() for the process-wide one); null
    /// makes registration fail.
    explicit CCapi(std::shared_ptr<CapiBackend> backend);
    CCapi(const CCapi&) = delete;
    CCapi& operator=(const CCapi&) = delete;
    /// Stops the receive thread and releases the registration.
    ~CCapi() override;

    /// Registers with the backend. On failure writes the reason, terminated,
    /// into message (MessageBufferSize bytes) and returns its result.
    int CreateCapi(char* message, unsigned int maxLogicalConnections, unsigned int dataBlocks, unsigned int blockSize);
    /// Ends the registration (clearing its calls) and wakes the receive thread; safe to repeat.
    void releaseCapi();
    /// Records a text for whoever looks at the wrapper (getLastMessage).
    void LogMessage(const char* text);
    Base::String getLastMessage();

    /// Places a call and stores its handle into connection when it stands.
    /// bChannels: the B channels the call asks for; data calls take exactly 1.
    int StartActiveConnect(int* connection, const char* protocol, const char* number, const char* ownMSN,
                           const char* logicalNumber, const char* callingX25Number, const char* userData, int bChannels,
                           const char* tei);
    /// The same with the call's texts by name.
    int StartActiveConnect(int* connection, const CallRequest& request);
    /// Clears a call; 0 also when the far end had cleared it already.
    int StartActiveDisconnect(int connection);
    /// Sends length bytes, cut into blocks of the registered block size.
    int StartSendB3Data(int connection, std::uint16_t length, const char* data);
    /// Copies at most length buffered bytes (and at most 65535) into buffer;
    /// count tells how many. CapiErrNoData when nothing was buffered.
    int GetReceiveB3Data(int connection, std::uint16_t* count, char* buffer, long length);
    /// Bytes received on the connection and not yet taken.
    long getReceiveBufferSize(int connection);
    /// Waits at most ms for received bytes on the connection; true when some are buffered.
    bool waitForReceive(int connection, unsigned int ms);
    /// True while the call stands (neither side has cleared it).
    bool isConnected(int connection);

    /// The receive loop: takes the backend's events until the registration ends.
    void run() override;

private:
    struct Connection {
        std::string received;
        bool up = true;
    };

    std::shared_ptr<CapiBackend> mpBackend;
    bool mbRegistered = false;
    unsigned int muApplication = 0;
    unsigned int muBlockSize = 0;

    std::mutex mBufferMutex;  // guards mConnections and msLastMessage
    std::condition_variable mReceived;
    std::map<int, Connection> mConnections;
    std::string msLastMessage;
};

}  // namespace Capi
