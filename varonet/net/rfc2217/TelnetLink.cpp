// The Telnet connection shared by the remote serial port's client and server.
#include <varonet/net/rfc2217/detail/TelnetLink.h>

#include <algorithm>

#include <varonet/base/Exception.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/rfc2217/detail/TelnetCodes.h>

namespace Net {

using namespace Telnet;

namespace {
constexpr long kReadBytes = 64 * 1024;            // one read from the transport
constexpr std::size_t kMostPending = 256 * 1024;  // decoded data not taken yet: no reading beyond it
constexpr int kPumpsPerLook = 4;                  // reads per look, so a fast peer cannot hold a waiter
}  // namespace

TelnetLink::TelnetLink(std::unique_ptr<IO::Device> transport, const TelnetOptions& options, Handler& handler)
    : mpTransport(std::move(transport)), mOptionsAtStart(options), mOptions(options), mrHandler(handler),
      mpScratch(new char[kReadBytes]) {}

TelnetLink::~TelnetLink() = default;

void TelnetLink::open() {
    mpTransport->open();
    std::lock_guard<std::mutex> guard(mMutex);
    mOptions = mOptionsAtStart;
    mDecoder.reset();
    mData.clear();
    mHead = 0;
    mbEnded = false;
}

void TelnetLink::close() { mpTransport->close(); }

bool TelnetLink::isOpen() {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        if (mbEnded) return false;
    }
    return mpTransport->isOpen();
}

bool TelnetLink::hasEnded() {
    std::lock_guard<std::mutex> guard(mMutex);
    return mbEnded;
}

void TelnetLink::wakeUp() {
    mbWoken = true;
    mpTransport->wakeUp();
}

void TelnetLink::send(const std::string& bytes) {
    long done = 0;
    while (done < static_cast<long>(bytes.size())) {
        long n = mpTransport->write(bytes.data() + done, static_cast<long>(bytes.size()) - done);
        if (n <= 0) break;
        done += n;
    }
}

void TelnetLink::sendNegotiation(unsigned char verb, unsigned char option) {
    if (verb == 0) return;
    const char bytes[] = {char(IAC), char(verb), char(option)};
    std::lock_guard<std::mutex> guard(mSendMutex);
    send(std::string(bytes, sizeof bytes));
}

void TelnetLink::sendSubnegotiation(unsigned char option, const std::string& payload) {
    std::string bytes = {char(IAC), char(SB), char(option)};
    TelnetDecoder::escape(payload.data(), static_cast<long>(payload.size()), bytes);
    bytes += {char(IAC), char(SE)};
    std::lock_guard<std::mutex> guard(mSendMutex);
    send(bytes);
}

void TelnetLink::sendData(const char* data, long length) {
    std::lock_guard<std::mutex> guard(mSendMutex);
    mOutgoing.clear();
    TelnetDecoder::escape(data, length, mOutgoing);
    send(mOutgoing);
}

void TelnetLink::onNegotiation(unsigned char verb, unsigned char option) {
    sendNegotiation(mOptions.receive(verb, option), option);
    mrHandler.onNegotiation(verb, option);
}

void TelnetLink::onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) {
    mrHandler.onSubnegotiation(option, payload, length);
}

void TelnetLink::end() {
    mbEnded = true;
    mpTransport->close();
}

bool TelnetLink::pump() {
    if (mbEnded || mData.size() - mHead >= kMostPending) return false;
    try {
        const long queued = mpTransport->size();
        if (queued <= 0) return false;
        const long n = mpTransport->read(mpScratch.get(), std::min(queued, kReadBytes));
        if (n <= 0) {
            end();
            return false;
        }
        if (mHead == mData.size()) mData.clear(), mHead = 0;
        else if (mHead > kMostPending / 2) mData.erase(0, mHead), mHead = 0;
        const long data = mDecoder.decode(mpScratch.get(), n, mpScratch.get(), *this);
        mData.append(mpScratch.get(), static_cast<std::size_t>(data));
        return true;
    } catch (const Base::Exception&) {
        end();  // closed underneath, reset, ...: nothing more will come
        return false;
    }
}

bool TelnetLink::waitUntil(const std::function<bool()>& ready, unsigned int ms, unsigned int sliceMs,
                           const std::function<void()>& idle) {
    OS::StopWatch watch;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(mMutex);
            for (int i = 0; i < kPumpsPerLook && pump(); ++i) {}
            if (ready()) return true;
            if (mbEnded) return false;
        }
        const unsigned int left = ms == ~0u ? ~0u : watch.getRemaining(ms);
        if (left == 0 || mbWoken.exchange(false)) return false;
        if (idle) idle();
        try {
            mpTransport->waitForData(std::min(left, sliceMs));
        } catch (const Base::Exception&) {
            std::lock_guard<std::mutex> guard(mMutex);
            end();  // the peer has closed: a last look at what it sent before
        }
    }
}

long TelnetLink::available() {
    std::lock_guard<std::mutex> guard(mMutex);
    for (int i = 0; i < kPumpsPerLook && pump(); ++i) {}
    return static_cast<long>(mData.size() - mHead);
}

void TelnetLink::discardData() {
    std::lock_guard<std::mutex> guard(mMutex);
    mData.clear();
    mHead = 0;
}

long TelnetLink::take(char* buffer, long length) {
    std::lock_guard<std::mutex> guard(mMutex);
    if (mHead == mData.size()) pump();
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(length, 0L)), mData.size() - mHead);
    std::copy_n(mData.data() + mHead, n, buffer);
    mHead += n;
    return static_cast<long>(n);
}

}  // namespace Net
