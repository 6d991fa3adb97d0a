#pragma once
// Log::Logger: where the library reports what it does. A null logger pointer
// anywhere in the library means no logging.

#include <iosfwd>

#include <varonet/base/ByteArray.h>
#include <varonet/base/Export.h>
#include <varonet/base/Mutex.h>
#include <varonet/base/String.h>

namespace Log {

class VARONET_API Logger {
public:
    virtual ~Logger() = default;
    /// A text with a message id (5120 sent to a modem, 5121 received from it) and a level.
    virtual void logString(unsigned int id, const Base::String& text, int level) = 0;
    /// Bytes with a message id and a level.
    virtual void logArray(unsigned int id, const Base::ByteArray& bytes, int level) = 0;
    /// An event without data (768: a hang-up begins).
    virtual void logEvent(unsigned int id, int level) = 0;
    /// A failure that was retried or swallowed.
    virtual void logError(unsigned int code, int level) = 0;
};

/// Writes one readable line per report to a stream; safe to share between threads.
class VARONET_API StreamLogger : public Logger {
public:
    explicit StreamLogger(std::ostream& out) : mrOut(out) {}
    void logString(unsigned int id, const Base::String& text, int level) override;
    void logArray(unsigned int id, const Base::ByteArray& bytes, int level) override;
    void logEvent(unsigned int id, int level) override;
    void logError(unsigned int code, int level) override;

private:
    Thread::Mutex mMutex;
    std::ostream& mrOut;
};

}  // namespace Log
