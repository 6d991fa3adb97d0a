#pragma once
// Net::TelnetLink: a Telnet connection over a transport device, the part the
// remote serial port's client and server share. It decodes what arrives into
// a bounded buffer of data, answers option negotiations, hands
// subnegotiations to its handler, and sends data (escaped), negotiations and
// subnegotiations so that no sequence is ever split by another.
//
// Threads: one thread may receive (wait, available, take) while others send.
// The handler is called on the receiving thread with the link's lock held
// (lock()), which also guards the handler's own state; what it sends goes out
// at once.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <varonet/base/Device.h>
#include <varonet/net/rfc2217/TelnetDecoder.h>
#include <varonet/net/rfc2217/detail/TelnetOptions.h>

namespace Net {

class TelnetLink : private TelnetDecoder::Listener {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        /// The peer sent a negotiation for option (already answered).
        virtual void onNegotiation(unsigned char verb, unsigned char option) = 0;
        /// A whole subnegotiation from the peer.
        virtual void onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) = 0;
    };

    /// Takes the transport; handler is borrowed and must outlive the link.
    TelnetLink(std::unique_ptr<IO::Device> transport, const TelnetOptions& options, Handler& handler);
    TelnetLink(const TelnetLink&) = delete;
    TelnetLink& operator=(const TelnetLink&) = delete;
    ~TelnetLink() override;

    IO::Device& getTransport() { return *mpTransport; }
    /// Opens the transport and starts afresh (options off, no data).
    void open();
    void close();
    /// The transport is open and has not ended.
    bool isOpen();
    /// Guards the options, the data and the handler's state.
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mMutex); }
    /// With the lock held: the options as negotiated so far.
    TelnetOptions& options() { return mOptions; }

    /// Sends IAC verb option; nothing for verb 0.
    void sendNegotiation(unsigned char verb, unsigned char option);
    /// Sends IAC SB option payload IAC SE, the payload escaped.
    void sendSubnegotiation(unsigned char option, const std::string& payload);
    /// Sends all of data, escaped; a failure of the transport passes through.
    void sendData(const char* data, long length);

    /// Waits up to ms (~0u: no limit; 0 only looks) until ready() holds,
    /// decoding what arrives; ready is asked with the lock held. idle runs
    /// between waits of at most sliceMs. False on time-out, on wakeUp and once
    /// the transport has ended (ready is asked once more then).
    bool waitUntil(const std::function<bool()>& ready, unsigned int ms, unsigned int sliceMs = ~0u,
                   const std::function<void()>& idle = {});
    /// Data bytes decoded and not taken yet (what is queued is decoded first).
    long available();
    /// With the lock held: data bytes decoded and not taken yet.
    std::size_t pending() const { return mData.size() - mHead; }
    /// Drops the data decoded and not taken yet.
    void discardData();
    /// At most length decoded data bytes; 0 when none are there.
    long take(char* buffer, long length);
    /// True once the transport has closed or failed.
    bool hasEnded();
    /// Ends the current or next wait (from any thread).
    void wakeUp();

private:
    void onNegotiation(unsigned char verb, unsigned char option) override;
    void onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) override;
    /// With the lock: decodes one read of what the transport has queued; false when nothing was read.
    bool pump();
    void end();
    void send(const std::string& bytes);

    std::unique_ptr<IO::Device> mpTransport;
    TelnetOptions mOptionsAtStart;
    TelnetOptions mOptions;
    Handler& mrHandler;
    std::mutex mMutex;  // the lock(): decoder, options, data, handler state
    TelnetDecoder mDecoder;
    std::unique_ptr<char[]> mpScratch;
    std::string mData;  // decoded data; taken from mHead on
    std::size_t mHead = 0;
    bool mbEnded = false;
    std::atomic<bool> mbWoken{false};
    std::mutex mSendMutex;  // one sequence at a time on the transport
    std::string mOutgoing;  // the escaped bytes of the data being sent
};

}  // namespace Net
