#pragma once
// Result values of the CAPI wrapper and its backends. 0 is success; every
// other value names why a call failed. Call-clearing reasons follow the
// ISDN cause values (0x34xx: network cause in the low byte).

namespace Capi {

enum CapiResult : int {
    CapiOk = 0,
    CapiErrRegistrationRefused = 0x1001,  ///< the backend turned the application away
    CapiErrBadParameters = 0x1002,        ///< logical connections, data blocks or block size out of range
    CapiErrNotInstalled = 0x1009,         ///< no backend is installed in this process
    CapiErrNotRegistered = 0x1101,        ///< a call before a successful registration (or after its release)
    CapiErrUnknownConnection = 0x2002,    ///< a connection handle that names no connection of this application
    CapiErrNotConnected = 0x2003,         ///< data for a connection that is down
    CapiErrBadProtocol = 0x3001,          ///< a protocol text the backend does not carry
    CapiErrBadChannelCount = 0x3002,      ///< a data call asks for other than one B channel
    CapiErrTooManyConnections = 0x3003,   ///< more connections than registered for
    CapiErrNoSuchNumber = 0x3481,         ///< unallocated number
    CapiErrBusy = 0x3491,                 ///< user busy
    CapiErrCallRejected = 0x3495,         ///< call rejected by the called party
    CapiErrNoData = 0x4001,               ///< a receive with nothing buffered
};

}  // namespace Capi
