// varonet relay LOCATOR_A LOCATOR_B: two partnered proxies relay both ways
// until SIGINT or SIGTERM (or, with --once, until a side that was open closes).

#include <poll.h>

#include <atomic>
#include <cstdio>

#include <CLI/CLI.hpp>

#include <varonet/udl/Proxy.h>
#include <varonet/udl/SerialPortLink.h>
#include <varonet/udl/UDLErrors.h>

#include "Tool.h"

namespace Tool {

namespace {

// A side whose open fails is tried again after 100 ms, then after twice as
// long each time, at most once a second.
constexpr unsigned int kFirstRetryPauseMs = 100;
constexpr unsigned int kMostRetryPauseMs = 1000;

/// One side's observer: counts and dumps what this side reads, tells when
/// the side opens and closes.
class SideObserver : public UDL::ProxyDumper {
public:
    SideObserver(char mark, TrafficDump& dump, bool once, bool verbose)
        : mcMark(mark), mrDump(dump), mbOnce(once), mbVerbose(verbose) {}

    void opened(const Base::String& self, const Base::String&) override {
        // Told on every pass of the relay; only the change is news.
        if (mbOpen.exchange(true)) return;
        if (mbVerbose) std::fprintf(stderr, "varonet relay: %s is open\n", self.c_str());
    }
    void dump(const Base::String&, const Base::String&, const Base::ByteArray& data) override {
        mBytes += data.size();
        mrDump.show(mcMark, data.chars(), data.size());
    }
    void closed(const Base::String& self, const Base::String&) override {
        mbOpen = false;
        if (mbVerbose) std::fprintf(stderr, "varonet relay: %s closed\n", self.c_str());
        if (mbOnce) Signals::requestStop();
    }
    unsigned long long bytes() const { return mBytes.load(); }

private:
    char mcMark;
    TrafficDump& mrDump;
    bool mbOnce;
    bool mbVerbose;
    std::atomic<bool> mbOpen{false};
    std::atomic<unsigned long long> mBytes{0};
};

class RelayCommand : public Command {
public:
    explicit RelayCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("relay", "Relay two devices both ways, reopening either side when it closes");
        mpApp->footer(
            "Runs until SIGINT or SIGTERM, then prints the byte counts each way.\n"
            "A server:rfc2217: side lets its caller control the other side's serial port\n"
            "(speed, format, flow control, DTR, RTS, break; modem lines reported).\n"
            "Example: varonet relay server:tcpip:4000 serial:ttyUSB0@115200\n"
            "         varonet relay server:rfc2217:4000 serial:ttyUSB0@115200");
        mpApp->add_option("a", msA, "Side A, e.g. server:tcpip:4000")->required();
        mpApp->add_option("b", msB, "Side B, e.g. serial:ttyUSB0@115200")->required();
        mpApp->add_flag("--once", mbOnce, "End when a side that was open closes, instead of reopening it");
        mpApp->add_flag("-x,--hex", mbHex, "Hex dump of the traffic on standard error ('>' A to B, '<' B to A)");
        mpApp->add_flag("-v,--verbose", mbText, "Text dump of the traffic and the sides' opens and closes");
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
        std::fprintf(stderr, "varonet relay: %llu bytes A to B, %llu bytes B to A\n", fromA.bytes(), fromB.bytes());
        return ExitDone;
    }

private:
    static std::unique_ptr<UDL::Proxy> makeProxy(const std::string& locator, SideObserver& observer) {
        try {
            auto proxy = std::make_unique<UDL::Proxy>(locator, &observer);
            proxy->setRetryPause(kFirstRetryPauseMs, kMostRetryPauseMs);
            return proxy;
        } catch (const Base::Exception& e) {
            if (e.getErrorCode() == UDL::ErrProxy) throw Failure("the locator '" + locator + "' names no device");
            throw Failure(describe("the locator '" + locator + "' cannot be used", e));
        }
    }

    std::string msA, msB;
    bool mbOnce = false;
    bool mbHex = false;
    bool mbText = false;
};

}  // namespace

std::unique_ptr<Command> makeRelayCommand(CLI::App& tool) { return std::make_unique<RelayCommand>(tool); }

}  // namespace Tool
