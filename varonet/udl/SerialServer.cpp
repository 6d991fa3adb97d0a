// The serial line as a server: the first bytes on the line are the caller.
#include <varonet/udl/SerialServer.h>

#include <cerrno>

#include <varonet/base/Exception.h>
#include <varonet/base/IOException.h>
#include <varonet/base/StopWatch.h>
#include <varonet/udl/UDLErrors.h>

namespace Net {

namespace {
constexpr unsigned int kPollMs = 200;
}

SerialServer::SerialServer(IO::SerialDevice* port) : mpPort(port) {}

SerialServer::~SerialServer() {
    // A port that nobody accepted goes with the server, unless a device manager keeps it.
    if (mpPort && mpPort->getDeviceManager()) (void)mpPort.release();
}

void SerialServer::setBlocking(bool blocking) {
    DeviceServer::setBlocking(blocking);
    if (mpPort) mpPort->setBlocking(blocking);
}

bool SerialServer::waitForConnection(unsigned int ms) {
    if (!mpPort) return false;
    if (!mpPort->isOpen()) mpPort->open();
    // A serial port's wait cannot be woken: a wake-up is seen between the steps.
    OS::StopWatch watch;
    while (watch.getElapsed() < ms && !mWake.take())
        if (mpPort->waitForData(kPollMs)) return true;
    return false;
}

IO::Device* SerialServer::acceptInternal() {
    if (!mpPort) throw Base::Exception(UDL::ErrNoSerialPort, ".", __LINE__, "the serial port was handed out already");
    mpPort->lock();
    try {
        if (!mpPort->isOpen()) mpPort->open();
        // A short look for the first byte, then a pause that a wake-up ends at once.
        while (!mpPort->waitForData(1))
            if (mWake.pause(kPollMs)) IO::checkSystemError(EINTR, "accept on " + mpPort->getName());
    } catch (...) {
        mpPort->unlock();
        throw;
    }
    return mpPort.release();
}

}  // namespace Net
