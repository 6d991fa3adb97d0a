// varonet relay LOCATOR_A LOCATOR_B: two partnered proxies relay both ways
// until SIGINT or SIGTERM (or, with --once, until a side that was open closes).

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <CLI/CLI.hpp>

#include <varonet/udl/ErrorText.h>
#include <varonet/udl/Proxy.h>
#include <varonet/udl/SerialPortLink.h>
#include <varonet/udl/ServerDevice.h>
#include <varonet/udl/UDLErrors.h>

#include "Tool.h"

namespace Tool {

namespace {

// A side whose open fails is tried again after 100 ms, then after twice as
// long each time, at most once a second.
constexpr unsigned int kFirstRetryPauseMs = 100;
constexpr unsigned int kMostRetryPauseMs = 1000;
// A failure that repeats itself is told again at most this often.
constexpr auto kRepeatFailureEvery = std::chrono::seconds(10);

void say(const std::string& line) { std::fprintf(stderr, "varonet relay: %s\n", line.c_str()); }

/// Tells of failed opens: each new reason at once, the same one again at
/// most every kRepeatFailureEvery with the number of attempts meanwhile.
class FailureLine {
public:
    void failed(const std::string& locator, const Base::Exception& error) {
        std::string reason = UDL::ErrorText::describe(error).str();
        auto now = std::chrono::steady_clock::now();
        ++miAttempts;
        if (reason == msLast && now - mLastTold < kRepeatFailureEvery) return;
        std::string repeats = reason == msLast ? " (" + std::to_string(miAttempts) + " attempts)" : "";
        say("cannot open " + locator + ": " + reason + repeats);
        msLast = reason;
        mLastTold = now;
        miAttempts = 0;
    }
    /// True when the side had failed since it was last open.
    bool succeeded() { return !std::exchange(msLast, "").empty(); }

private:
    std::string msLast;
    std::chrono::steady_clock::time_point mLastTold;
    long miAttempts = 0;
};

/// One side's observer: counts and dumps what this side reads, tells when
/// the side opens (and who called it), closes, fails to open or drops data.
class SideObserver : public UDL::ProxyDumper {
public:
    SideObserver(char mark, TrafficDump& dump, bool once, bool verbose)
        : mcMark(mark), mrDump(dump), mbOnce(once), mbVerbose(verbose) {}
    void watch(UDL::Proxy& proxy) { mpProxy = &proxy; }

    void opened(const Base::String& self, const Base::String&) override {
        // Told on every pass of the relay; only the change is news.
        if (mbOpen.exchange(true)) return;
        bool recovered = mFailures.succeeded();
        std::string caller;
        mpProxy->withDevice([&](IO::Device& device) { caller = endpointsOf(device).caller; });
        if (!caller.empty()) say(self.str() + ": caller " + caller);
        else if (mbVerbose || recovered) say(self.str() + " is open");
    }
    void dump(const Base::String&, const Base::String&, const Base::ByteArray& data) override {
        mBytes += data.size();
        mrDump.show(mcMark, data.chars(), data.size());
    }
    void closed(const Base::String& self, const Base::String&) override {
        mbOpen = false;
        if (mbVerbose) say(self.str() + " closed");
        if (mbOnce) Signals::requestStop();
    }
    void openFailed(const Base::String& self, const Base::String&, const Base::Exception& error) override {
        mFailures.failed(self.str(), error);
    }
    void dropped(const Base::String& self, const Base::String& other, long bytes) override {
        mDropped += static_cast<unsigned long long>(bytes);
        if (mbVerbose)
            say(std::to_string(bytes) + " bytes from " + self.str() + " dropped: " + other.str() + " is closed");
    }
    /// What reached the other side, and what was read but dropped.
    unsigned long long delivered() const { return mBytes.load() - mDropped.load(); }
    unsigned long long dropped() const { return mDropped.load(); }

private:
    char mcMark;
    TrafficDump& mrDump;
    bool mbOnce;
    bool mbVerbose;
    UDL::Proxy* mpProxy = nullptr;
    FailureLine mFailures;  // used by this side's thread only
    std::atomic<bool> mbOpen{false};
    std::atomic<unsigned long long> mBytes{0};
    std::atomic<unsigned long long> mDropped{0};
};

class RelayCommand : public Command {
public:
    explicit RelayCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("relay", "Relay two devices both ways, reopening either side when it closes");
        mpApp->footer(
            "Runs until SIGINT or SIGTERM, then prints the byte counts each way.\n"
            "A server side accepts its caller, and a side is read, only while the other side is open\n"
            "(--drop reads on and drops what the closed side cannot take). A caller who comes while\n"
            "another is served is turned away (--share lets them all in). Failed opens, callers and\n"
            "listening addresses are told on standard error.\n"
            "A server:rfc2217: side lets its caller control the other side's serial port\n"
            "(speed, format, flow control, DTR, RTS, break; modem lines reported).\n"
            "Example: varonet relay server:tcpip:4000 serial:ttyUSB0@115200\n"
            "         varonet relay server:rfc2217:4000 serial:ttyUSB0@115200");
        mpApp->add_option("a", msA, "Side A, e.g. server:tcpip:4000")->required();
        mpApp->add_option("b", msB, "Side B, e.g. serial:ttyUSB0@115200")->required();
        mpApp->add_flag("--once", mbOnce, "End when a side that was open closes, instead of reopening it");
        mpApp->add_flag("--drop", mbDrop,
                        "Read a side while the other is closed and drop (and count) what it reads, "
                        "as the library's relay does by default");
        mpApp->add_flag("--share", mbShare,
                        "Let several callers share a server side: the other side's output goes to all of them, "
                        "their input is merged");
        mpApp->add_flag("-x,--hex", mbHex, "Hex dump of the traffic on standard error ('>' A to B, '<' B to A)");
        mpApp->add_flag("-v,--verbose", mbText,
                        "Text dump of the traffic, the sides' opens and closes and dropped bytes");
    }

    int run() override {
        TrafficDump dump(TrafficDump::modeOf(mbHex, mbText));
        SideObserver fromA('>', dump, mbOnce, mbHex || mbText), fromB('<', dump, mbOnce, mbHex || mbText);
        {
            std::unique_ptr<UDL::Proxy> a = makeProxy(msA, fromA);
            std::unique_ptr<UDL::Proxy> b = makeProxy(msB, fromB);
            a->partner(*b);
            // A server:rfc2217: side controls the other side's serial port (ended before the proxies).
            UDL::SerialPortLink aControlsB(*a, *b), bControlsA(*b, *a);
            a->start();
            b->start();
            pollfd stop{Signals::stopFd(), POLLIN, 0};
            while (::poll(&stop, 1, -1) <= 0) {}
            // Each proxy stops, wakes its device and waits for its thread.
        }
        std::string counts =
            std::to_string(fromA.delivered()) + " bytes A to B, " + std::to_string(fromB.delivered()) + " bytes B to A";
        if (fromA.dropped() + fromB.dropped() > 0)
            counts += "; dropped " + std::to_string(fromA.dropped()) + " bytes A to B, " +
                      std::to_string(fromB.dropped()) + " bytes B to A";
        say(counts);
        return ExitDone;
    }

private:
    std::unique_ptr<UDL::Proxy> makeProxy(const std::string& locator, SideObserver& observer) {
        std::unique_ptr<UDL::Proxy> proxy;
        try {
            proxy = std::make_unique<UDL::Proxy>(locator, &observer);
        } catch (const Base::Exception& e) {
            if (e.getErrorCode() == UDL::ErrProxy) throw Failure("the locator '" + locator + "' names no device");
            throw Failure(describe("the locator '" + locator + "' cannot be used", e));
        }
        proxy->setRetryPause(kFirstRetryPauseMs, kMostRetryPauseMs);
        if (!mbDrop) proxy->setReceiverClosed(UDL::Proxy::WaitForReceiver);
        observer.watch(*proxy);
        // A server listens from here on: say where.
        Endpoints where = endpointsOf(*proxy->getDevice());
        if (!where.listening.empty())
            say(locator + " listening on " + where.listening + (where.allInterfaces ? " (all interfaces)" : ""));
        if (auto* server = dynamic_cast<IO::ServerDevice*>(proxy->getDevice()))
            server->setExtraCallers(mbShare ? IO::ServerDevice::ShareWithExtraCallers
                                            : IO::ServerDevice::RejectExtraCallers);
        return proxy;
    }

    std::string msA, msB;
    bool mbOnce = false;
    bool mbDrop = false;
    bool mbShare = false;
    bool mbHex = false;
    bool mbText = false;
};

}  // namespace

std::unique_ptr<Command> makeRelayCommand(CLI::App& tool) { return std::make_unique<RelayCommand>(tool); }

}  // namespace Tool
