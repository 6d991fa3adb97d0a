// An ISDN connection through the CAPI wrapper: registration, dialling with redial, B3 data and clearing.
#include <varonet/net/modem/CapiDevice.h>

#include <algorithm>

#include <varonet/base/Exception.h>
#include <varonet/base/Mutex.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/Thread.h>
#include <varonet/net/capi/CapiErrors.h>
#include <varonet/net/capi/detail/CCapi.h>
#include <varonet/net/modem/ModemErrors.h>

namespace Net {

namespace {
constexpr unsigned int kPollMs = 200;
constexpr long kMaxB3Length = 65535;
// Data calls take one B channel.
constexpr int kBChannels = 1;
constexpr unsigned int kMsPerSecond = 1000;
}  // namespace

// The wrapper always exists: a failed allocation throws std::bad_alloc from the
// constructor, as everywhere in the library, instead of leaving a device without one.
CapiDevice::CapiDevice() : CapiDevice(Capi::CapiBackend::getDefault()) {}

CapiDevice::CapiDevice(std::shared_ptr<Capi::CapiBackend> backend)
    : mpCapi(std::make_unique<Capi::CCapi>(std::move(backend))) {}

CapiDevice::~CapiDevice() {
    mpCapi->stop();
    mpCapi->releaseCapi();
    mpCapi->join();
}

const char* CapiDevice::protocolText(EIsdnProtocol protocol) {
    switch (protocol) {
        case IsdnX25BChannel: return "X25";
        case IsdnX31DChannel: return "X25D";
        case IsdnV110: return "V110";
        default: return "X75";
    }
}

void CapiDevice::setProtocol(EIsdnProtocol protocol) {
    meProtocol = protocol;
    if (protocol != IsdnX25BChannel) msLogicalNumber = "";
    if (protocol == IsdnX75) msUserData = "";
}

void CapiDevice::setAttempts(int attempts) {
    if (attempts >= 1) miAttempts = attempts;
}

bool CapiDevice::createCapi() {
    char message[Capi::CCapi::MessageBufferSize] = {};
    if (mpCapi->CreateCapi(message, muMaxLogicalConnections, muDataBlocks, muBlockSize) == Capi::CapiOk) {
        mpCapi->start();
        return true;
    }
    mpCapi->LogMessage(message);
    return false;
}

void CapiDevice::open() {
    Thread::Synchronized guard(*mpCapi);
    const Base::String number = msOutsideLineAccess + msNetworkPrefix + msNumber;
    const Capi::CallRequest request{.protocol = protocolText(meProtocol),
                                    .number = number.str(),
                                    .ownMSN = msOwnMSN.str(),
                                    .logicalNumber = msLogicalNumber.str(),
                                    .callingX25Number = msCallingX25Number.str(),
                                    .userData = msUserData.str(),
                                    .tei = msTEI.str(),
                                    .bChannels = kBChannels};
    for (int attempt = 1; attempt <= miAttempts; ++attempt) {
        if (mpCapi->StartActiveConnect(&miConnection, request) == Capi::CapiOk) {
            mbOpen = true;
            return;
        }
        if (miRedialWaitingTime > 0)
            Thread::Thread::sleep(static_cast<unsigned int>(miRedialWaitingTime) * kMsPerSecond);
    }
    mpCapi->StartActiveDisconnect(miConnection);
    throw Base::Exception(ErrModemNotOpenAfterDial, ".", __LINE__, "no CAPI connection to " + number);
}

void CapiDevice::close() {
    Thread::Synchronized guard(*mpCapi);
    if (mpCapi->StartActiveDisconnect(miConnection) == Capi::CapiOk) mbOpen = false;
}

long CapiDevice::read(char* buffer, long length) { return readInternal(buffer, length); }

long CapiDevice::readInternal(char* buffer, long length) {
    Thread::Synchronized guard(*mpCapi);
    std::uint16_t count = 0;
    mpCapi->GetReceiveB3Data(miConnection, &count, buffer, length);
    return count;
}

long CapiDevice::write(const char* buffer, long length) {
    if (length <= 0) return 0;
    Thread::Synchronized guard(*mpCapi);
    for (long sent = 0; sent < length;) {
        long piece = std::min(length - sent, kMaxB3Length);
        if (mpCapi->StartSendB3Data(miConnection, static_cast<std::uint16_t>(piece), buffer + sent) != Capi::CapiOk)
            return 0;
        sent += piece;
    }
    return length;
}

long CapiDevice::size() { return mpCapi->getReceiveBufferSize(miConnection); }

bool CapiDevice::waitForData(unsigned int ms) {
    if (!mbOpen) throw Base::Exception(ErrModemNotConnected, ".", __LINE__, "no CAPI connection");
    if (ms == 0) return false;
    OS::StopWatch watch;
    while (watch.getElapsed() < ms) {
        Thread::Synchronized guard(*mpCapi);
        if (size() > 0) return true;
        // The receive thread wakes this pause as soon as data arrives.
        mpCapi->waitForReceive(miConnection, std::min(kPollMs, watch.getRemaining(ms)));
    }
    return size() > 0;
}

}  // namespace Net
