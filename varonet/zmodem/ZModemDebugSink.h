#pragma once
// ZModem::ZModemDebugSink: where the ZMODEM debug lines go.
//
// The application installs one process-wide callback; every debug line of
// every session is handed to it, whole, on the session's thread. Without a
// callback the lines are dropped (and the costly ones are never built).
#include <functional>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace ZModem {

class VARONET_API ZModemDebugSink {
public:
    using Callback = std::function<void(const Base::String&)>;
    /// Installs callback (an empty one removes the sink). Safe from any thread.
    static void set(Callback callback);
    /// True when a sink is installed.
    static bool isActive();
    /// Hands line to the sink, if any. Lines from several threads do not interleave.
    static void emit(const Base::String& line);
};

}  // namespace ZModem
