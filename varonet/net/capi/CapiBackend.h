#pragma once
// Capi::CapiBackend: what the CAPI wrapper talks to underneath.
//
// A backend registers applications, places and clears outgoing data calls,
// carries data blocks to the far end, and queues what happens on the far
// side (data, a cleared call) as events the wrapper's receive thread takes
// with waitForEvent. Every call returns a CapiResult (0 = success).
//
// One backend is the process-wide default: Capi::CCapi's default constructor
// uses it, so an application (or a test) picks the exchange its CAPI devices
// reach by installing one with setDefault. Without one, registration fails
// with CapiErrNotInstalled.

#include <cstddef>
#include <memory>
#include <string>

#include <varonet/base/Export.h>

namespace Capi {

/// An outgoing call as the application asks for it.
struct CallRequest {
    std::string protocol;  ///< "X75", "X25", "X25D" or "V110"
    std::string number;    ///< the digits to dial (access digits and prefix included)
    std::string ownMSN;
    std::string logicalNumber;
    std::string callingX25Number;
    std::string userData;
    std::string tei;
    int bChannels = 1;
};

/// Something that happened on an application's connections.
struct CapiEvent {
    enum EKind { Data, Disconnected, Released };
    EKind kind = Data;
    int connection = 0;
    std::string data;  ///< the block received (kind Data)
};

class VARONET_API CapiBackend {
public:
    virtual ~CapiBackend() = default;

    /// Registers an application. On success stores its id; otherwise reason says why.
    virtual int registerApplication(unsigned int maxLogicalConnections, unsigned int dataBlocks, unsigned int blockSize,
                                    unsigned int& applicationId, std::string& reason) = 0;
    /// Ends a registration: its connections are cleared and a waiting
    /// waitForEvent returns a Released event at once.
    virtual void releaseApplication(unsigned int applicationId) = 0;
    /// Places a call and returns when it stands or failed; stores the connection handle (never 0).
    virtual int connect(unsigned int applicationId, const CallRequest& request, int& connection) = 0;
    /// Clears a call. A call the far end cleared already counts as cleared (0).
    virtual int disconnect(unsigned int applicationId, int connection) = 0;
    /// Sends one data block (at most the registered block size).
    virtual int sendData(unsigned int applicationId, int connection, const char* data, std::size_t length) = 0;
    /// Waits at most ms for the next event of the application; false when none came.
    virtual bool waitForEvent(unsigned int applicationId, CapiEvent& event, unsigned int ms) = 0;

    /// Installs the process-wide default backend (null removes it).
    static void setDefault(std::shared_ptr<CapiBackend> backend);
    static std::shared_ptr<CapiBackend> getDefault();
};

}  // namespace Capi
