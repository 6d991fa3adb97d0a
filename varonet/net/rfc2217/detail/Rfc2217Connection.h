#pragma once
// Net::Rfc2217Connection: one caller of a Net::Rfc2217Server, as a device
// whose data is the caller's data; the caller's port settings go to the
// controlled port (Net::Rfc2217PortAccess) and are answered, and the port's
// modem lines are reported when they change.
//
// One thread reads (waits, asks the size, reads: the commands are handled
// there) while others write.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <varonet/base/Device.h>
#include <varonet/base/SerialPort.h>
#include <varonet/base/StopWatch.h>
#include <varonet/net/rfc2217/detail/Rfc2217PortAccess.h>
#include <varonet/net/rfc2217/detail/TelnetLink.h>

namespace Net {

class Rfc2217Connection : public IO::Device, private TelnetLink::Handler {
public:
    /// transport: the accepted connection (open, owned).
    Rfc2217Connection(std::unique_ptr<IO::Device> transport, std::shared_ptr<Rfc2217PortAccess> access);
    ~Rfc2217Connection() override;

    bool isOpen() override;
    /// Nothing while open; an accepted connection cannot be opened again (IO::Exception ErrNotOpen).
    void open() override;
    void close() override;
    /// The caller's address.
    Base::String getName() override;
    long size() override;
    bool isEOF() override { return !isOpen(); }
    /// True when data is there; false after ms, on wakeUp, or once the caller has gone.
    bool waitForData(unsigned int ms) override;
    /// Blocks until data comes; 0 once the caller has gone; EINTR on wakeUp.
    long readInternal(char* buffer, long length) override;
    /// All of it, escaped; waits while the caller has suspended the flow.
    long write(const char* buffer, long length) override;
    using IO::OutputDevice::write;
    bool isReliable() override { return true; }
    bool isFullDuplex() override { return true; }
    void wakeUp() override;

private:
    // What a connection without a port keeps, and what it last set on one.
    struct Settings {
        unsigned int bitRate = 9600;
        IO::SerialPort::Format format;
        unsigned char flow = 1;  // RFC 2217's code: none
        bool dtr = true, rts = true, brk = false;
    };

    void onNegotiation(unsigned char verb, unsigned char option) override;
    void onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) override;
    void answer(unsigned char command, const std::string& value);
    bool hasPort();
    /// Runs f on the port, opened first when closed; false without a port or when it fails.
    bool change(const std::function<void(IO::SerialDevice&)>& f);
    void setFormat(const IO::SerialPort::Format& format);
    unsigned int speed(unsigned int asked);
    unsigned char dataSize(unsigned char asked);
    unsigned char parity(unsigned char asked);
    unsigned char stopSize(unsigned char asked);
    unsigned char control(unsigned char asked);
    unsigned char flowControl(unsigned char asked);
    unsigned char modemLines();
    /// Between waits: the modem lines, when their time has come.
    void pollModemLines();
    void reportModemLines();

    std::shared_ptr<Rfc2217PortAccess> mpAccess;
    TelnetLink mLink;
    Settings mSettings;
    // Kept by the reading thread.
    unsigned char mcModemMask = 0xFF;
    unsigned char mcLineMask = 0;
    unsigned char mcReported = 0;
    bool mbReported = false;
    OS::StopWatch mLastPoll;
    // The caller's FLOWCONTROL-SUSPEND: writers wait until it resumes.
    std::mutex mFlowMutex;
    std::condition_variable mFlowResumed;
    bool mbSuspended = false;
};

}  // namespace Net
