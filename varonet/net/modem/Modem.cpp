// The AT command engine: commands, result lines, dialling, answering and hang-up.
//
//   host                                   modem
//     "AT" command CR ------------------------>
//     <------------------- CR LF (intermediate lines) ...
//     <------------------- "OK" | "CONNECT ..." | "BUSY" | ... CR LF
//
//   escape from data mode (only after 1100 ms without user data):
//     "+++" ---------------------------------->
//     <------------------- CR LF "OK" CR LF
//
//   multi-step connection, once "CONNECT" stood:
//     <------------------- network greeting ("DATEX-P ...")
//     user data CR --------------------------->
//     <------------------- network confirmation ("COM")
//
// A result line is complete when it has at least two characters and ends in
// CR LF. Lines are classified by substring, first match wins: "CONNECT",
// "NO CARRIER", "CARRIER", "NO DIALTONE", "BUSY", "BLACKLISTED", an
// intermediate line (empty, or "+...:..."), "OK", anything else.

#include <varonet/net/modem/Modem.h>

#include <algorithm>

#include <varonet/base/DeviceManager.h>
#include <varonet/base/Errors.h>
#include <varonet/base/Exception.h>
#include <varonet/base/Thread.h>
#include <varonet/base/UnreliableDevice.h>
#include <varonet/net/modem/ModemErrors.h>

namespace Net {

namespace {

// The escape sequence needs this much silence after the last user data, whatever the delay to disconnect.
constexpr unsigned int kEscapeGuardMs = 1100;
constexpr unsigned int kDefaultReplyMs = 3000;
constexpr unsigned int kAssembleStepMs = 250;
constexpr unsigned int kIntermediateWaitMs = 1000;
constexpr unsigned int kDcdStepMs = 200;
constexpr unsigned int kOpenCheckMs = 1000;
constexpr unsigned int kOpenCheckStepMs = 250;

bool isComplete(const Base::String& line) { return line.length() >= 2 && line.endsWith("\r\n"); }

bool isEmptyLine(const Base::String& line) {
    for (std::size_t i = 0; i < line.length(); ++i) {
        char c = line[i];
        if (c != '\r' && c != '\n' && c != ' ') return false;
    }
    return true;
}

[[noreturn]] void fail(unsigned int code, int line, const Base::String& text) {
    throw Base::Exception(code, ".", line, text);
}

}  // namespace

Modem::Modem(StatefulDevice* line, Log::Logger* logger, bool multiStepConnect, bool ownsLine)
    : IO::WrapperDevice(line, ownsLine), mpLine(line), mbMultiStepConnect(multiStepConnect), mpLogger(logger) {
    if (!line) fail(Base::ErrBadArgument, __LINE__, "a modem needs a line");
    if (multiStepConnect) {
        muWaitOnConnect = 2000;
        muNetworkConfirmationTimeout = 10000;
    }
    muConfigurationID = line->registerState();
    mWriteClock.start();
}

Modem::Modem(const Modem& other)
    : IO::WrapperDevice(other.mpLine, false), mpLine(other.mpLine) {
    IO::Device::operator=(other);
    *this = other;
}

Modem& Modem::operator=(const Modem& other) {
    if (this == &other) return *this;
    muInterfaceType = other.muInterfaceType;
    mbCommandMode = other.mbCommandMode;
    mbConnected = other.mbConnected;
    mbHungUp = other.mbHungUp;
    mWriteClock = other.mWriteClock;
    msNumber = other.msNumber;
    msOutsideLineAccess = other.msOutsideLineAccess;
    muWaitForLine = other.muWaitForLine;
    muWaitOnLine = other.muWaitOnLine;
    msNetworkPrefix = other.msNetworkPrefix;
    muWaitForNetwork = other.muWaitForNetwork;
    msUserData = other.msUserData;
    muConnectTimeout = other.muConnectTimeout;
    muWaitOnConnect = other.muWaitOnConnect;
    miAttempts = other.miAttempts;
    miRedialWaitingTime = other.miRedialWaitingTime;
    mbMultiStepConnect = other.mbMultiStepConnect;
    muNetworkConfirmationTimeout = other.muNetworkConfirmationTimeout;
    msNetworkGreeting = other.msNetworkGreeting;
    msNetworkConfirmation = other.msNetworkConfirmation;
    msInitString = other.msInitString;
    mbIncoming = other.mbIncoming;
    mbPreconfigured = other.mbPreconfigured;
    mpLogger = other.mpLogger;
    mbRingDetected = other.mbRingDetected;
    muConfigurationID = other.muConfigurationID;
    mbBlacklisted = other.mbBlacklisted;
    muDelayToDisconnect = other.muDelayToDisconnect;
    miModemLines = other.miModemLines;
    return *this;
}

Modem::~Modem() {
    try {
        if (!mbHungUp) hangup();
    } catch (const Base::Exception& e) {
        logFailure(e.getErrorCode());
    } catch (...) {
        // A destructor must not throw; the line goes away with us anyway.
    }
}

// --- logging -------------------------------------------------------------------

void Modem::logSent(const Base::String& text) {
    if (mpLogger) mpLogger->logString(LogModemSent, text, ModemLogLevel);
}

void Modem::logReceived(const Base::String& text) {
    if (mpLogger) mpLogger->logString(LogModemReceived, text, ModemLogLevel);
}

void Modem::logFailure(unsigned int code) {
    if (mpLogger) mpLogger->logError(code, 0);
}

// --- settings ------------------------------------------------------------------

void Modem::setNumber(const Base::String& number) {
    Base::String oldName = getName();
    msNumber = number;
    mbIncoming = false;
    if (IO::DeviceManager* manager = getDeviceManager()) manager->deviceRenamed(oldName, this);
}

void Modem::setUserData(const Base::String& userData) {
    Base::String oldName = getName();
    msUserData = userData;
    if (IO::DeviceManager* manager = getDeviceManager()) manager->deviceRenamed(oldName, this);
}

void Modem::setAttempts(int attempts) {
    if (attempts >= 1) miAttempts = attempts;
}

void Modem::setPreinitialized(bool preinitialized) { mpLine->setState(preinitialized ? muConfigurationID : 0); }

bool Modem::isIncomingConfigurationRequired() { return mpLine->getState() != muConfigurationID; }

// --- line capabilities -------------------------------------------------------------

IO::SerialDevice* Modem::getUnderlyingSerialDevice() const {
    return dynamic_cast<IO::SerialDevice*>(mpLine->getUnderlying());
}

bool Modem::lineHasModemLines() {
    if (miModemLines >= 0) return miModemLines == 1;
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (!serial) return false;
    // A port only tells whether it has modem lines while it is open.
    bool opened = false;
    try {
        if (!serial->isOpen()) {
            serial->open();
            opened = true;
        }
        miModemLines = serial->hasModemLines() ? 1 : 0;
    } catch (const Base::Exception&) {
        if (opened) serial->close();
        return false;
    }
    if (opened) serial->close();
    return miModemLines == 1;
}

bool Modem::supportsDTR() { return lineHasModemLines(); }

bool Modem::supportsDCD() { return lineHasModemLines(); }

unsigned int Modem::getFlowControl() {
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    return serial ? static_cast<unsigned int>(serial->getFlowControl()) : 0u;
}

// --- names ---------------------------------------------------------------------------

Base::String Modem::getName() { return "modem:"; }

Base::String Modem::getDeviceName() {
    Base::String name = mpLine->getName() + ":" + msNumber;
    if (!msUserData.isEmpty()) name += "/" + msUserData;
    return name;
}

// --- command builders ------------------------------------------------------------------

Base::String Modem::getStandardInitialization() {
    if (mbPreconfigured) return "";
    Base::String init = "&FE0S0=0";
    unsigned int flow = getFlowControl();
    init += flow == 1 ? "&K3" : (flow == 2 ? "&K4" : "&K0");
    init += supportsDTR() ? "&D2" : "&D0";
    init += supportsDCD() ? "&C1" : "&C0";
    return init;
}

void Modem::appendNetworkParameters(Base::String& text, unsigned int pausesBefore, const Base::String& parameter,
                                    unsigned int pausesAfter) {
    for (unsigned int i = 0; i < pausesBefore; ++i) text += ',';
    if (parameter.isEmpty()) return;
    text += parameter;
    for (unsigned int i = 0; i < pausesAfter; ++i) text += ',';
}

Base::String Modem::getInitCommands() { return getStandardInitialization(); }

Base::String Modem::getPreconnectCommands() { return ""; }

Base::String Modem::getConnectCommand() { return ""; }

// --- the dialogue ---------------------------------------------------------------------

void Modem::clearInput() {
    if (!mpLine->isOpen()) return;
    char scratch[1024];
    while (mpLine->waitForData(0)) {
        long n = std::min<long>(mpLine->size(), static_cast<long>(sizeof scratch));
        if (n <= 0) n = 1;
        if (mpLine->readInternal(scratch, n) <= 0) break;
    }
}

void Modem::sendText(const Base::String& text) { mpLine->write(text.data(), static_cast<long>(text.length())); }

void Modem::sleepUntilWriteClock(unsigned int ms) {
    std::uint64_t elapsed = mWriteClock.getElapsed();
    if (elapsed < ms) Thread::Thread::sleep(static_cast<unsigned int>(ms - elapsed));
}

void Modem::receiveCommandResponse(unsigned int replyTime, bool dialing, Base::String* response, bool acceptAny) {
    if (replyTime == 0) replyTime = kDefaultReplyMs;
    OS::StopWatch watch;
    if (!mpLine->waitForData(replyTime)) {
        mbCommandMode = !mbCommandMode;
        if (dialing) throw Base::TimeoutException(".", __LINE__, "no reply to the dial command");
        fail(ErrModemNoReply, __LINE__, "no reply from the modem");
    }
    bool intermediate = false;
    for (;;) {
        Base::String line("");
        if (intermediate && !mpLine->waitForData(kIntermediateWaitMs)) {
            if (!dialing || watch.getElapsed() > replyTime) fail(ErrModemNoReply, __LINE__, "the modem's reply ended early");
        }
        do {
            if (!mpLine->waitForData(kAssembleStepMs)) break;
            while (!isComplete(line) && mpLine->size() > 0) {
                char c;
                if (mpLine->readInternal(&c, 1) != 1) break;
                line += c;
            }
        } while (!isComplete(line));
        logReceived(line);

        if (line.contains("CONNECT")) {
            mbConnected = true;
            mbCommandMode = false;
        } else if (line.contains("NO CARRIER")) {
            mbConnected = false;
            mbCommandMode = true;
            if (dialing) fail(ErrModemNoCarrier, __LINE__, "NO CARRIER");
        } else if (line.contains("CARRIER")) {
            mbConnected = true;
            mbCommandMode = false;
        } else if (line.contains("NO DIALTONE")) {
            mbConnected = false;
            mbCommandMode = true;
            fail(ErrModemNoDialtone, __LINE__, "NO DIALTONE");
        } else if (line.contains("BUSY")) {
            mbConnected = false;
            mbCommandMode = true;
            fail(ErrModemBusy, __LINE__, "BUSY");
        } else if (line.contains("BLACKLISTED")) {
            mbConnected = false;
            mbCommandMode = true;
            fail(ErrModemBlacklisted, __LINE__, "BLACKLISTED");
        } else if ((line.startsWith("+") && line.contains(":")) || isEmptyLine(line)) {
            intermediate = true;
            continue;
        } else if (line.contains("OK") || acceptAny) {
            // finished
        } else {
            if (line.contains("ERROR")) mbConnected = true;
            else mbCommandMode = !mbCommandMode;
            if (dialing) fail(ErrModemDialFailed, __LINE__, "the dial command was refused: " + line);
        }
        if (response) *response = line;
        return;
    }
}

void Modem::sendCommand(const Base::String& command, unsigned int replyTime, bool hangUpBeforeRetry,
                        unsigned int attempts, bool dialing, Base::String* response, bool acceptAny) {
    bool opened = false;
    if (!mpLine->isOpen()) {
        mpLine->open();
        opened = true;
    }
    for (unsigned int attempt = 1;; ++attempt) {
        Base::String commandLine = "AT" + command + "\r";
        logSent(commandLine);
        try {
            if (!mbCommandMode) {
                sleepUntilWriteClock(kEscapeGuardMs);
                clearInput();
                sendText("+++");
                logSent("+++");
                receiveCommandResponse(0, false, nullptr, false);
                mbCommandMode = true;
            }
            if (hangUpBeforeRetry && attempt > 1 && isOpen()) hangup();
            clearInput();
            sendText(commandLine);
            receiveCommandResponse(replyTime, dialing, response, acceptAny);
        } catch (const Base::Exception& e) {
            if (attempt >= attempts || e.getErrorCode() == ErrModemNoDialtone) throw;
            if (e.getErrorCode() == ErrModemBlacklisted) mbBlacklisted = true;
            logFailure(e.getErrorCode());
            if (dialing && miRedialWaitingTime > 0)
                Thread::Thread::sleep(static_cast<unsigned int>(miRedialWaitingTime) * 1000u);
            mbCommandMode = true;
            continue;
        }
        if (opened) mpLine->close();
        return;
    }
}

void Modem::sendCommands(const Base::String& commands) {
    std::size_t start = 0;
    while (start <= commands.length()) {
        long space = commands.find(' ', start);
        std::size_t end = space < 0 ? commands.length() : static_cast<std::size_t>(space);
        Base::String piece = commands.substring(start, end - start);
        start = end + 1;
        if (piece.isEmpty()) continue;
        if (piece.length() >= 2 && piece.left(2).toUpper() == "AT") piece = piece.substring(2);
        sendCommand(piece, 0, true, 4, false, nullptr, false);
    }
}

Base::String Modem::receiveModemResponse(unsigned int replyTime) {
    if (replyTime == 0) replyTime = kDefaultReplyMs;
    if (!mpLine->waitForData(replyTime)) fail(ErrModemNoReply, __LINE__, "no reply from the modem");
    Base::String line("");
    do {
        if (!mpLine->waitForData(kAssembleStepMs)) break;
        while (mpLine->size() > 0) {
            char c;
            if (mpLine->readInternal(&c, 1) != 1) break;
            if (line.isEmpty() && (c == '\r' || c == '\n')) continue;
            line += c;
        }
    } while (!isComplete(line));
    logReceived(line);
    return line;
}

Base::String Modem::waitForAnswer(const Base::String& expected, unsigned int ms, bool* found) {
    OS::StopWatch watch;
    Base::String text("");
    bool seen = false;
    do {
        if (mpLine->waitForData(kAssembleStepMs)) {
            char buffer[256];
            while (mpLine->size() > 0) {
                long n = mpLine->readInternal(buffer, std::min<long>(mpLine->size(), static_cast<long>(sizeof buffer)));
                if (n <= 0) break;
                text.append(buffer, static_cast<std::size_t>(n));
            }
        }
        seen = text.contains(expected);
    } while (!seen && watch.getElapsed() < ms);
    if (found) *found = seen;
    if (!text.isEmpty()) logReceived(text);
    return text;
}

void Modem::sendUserData(const Base::String& userData, unsigned int greetingWait, unsigned int confirmationWait) {
    waitForAnswer(msNetworkGreeting, std::max(greetingWait, 1000u), nullptr);
    Base::String line = userData + "\r";
    logSent(line);
    clearInput();
    sendText(line);
    bool confirmed = false;
    Base::String answer = waitForAnswer(msNetworkConfirmation, std::max(confirmationWait, 2000u), &confirmed);
    if (!answer.isEmpty()) logReceived(answer);
    if (!confirmed) fail(ErrModemNoNetworkConfirmation, __LINE__, "the network did not confirm the user data");
}

// --- connection -------------------------------------------------------------------------

void Modem::open() {
    mbHungUp = false;
    if (!isOpen() && !mbIncoming) {
        IO::SerialDevice* serial = getUnderlyingSerialDevice();
        if (!mpLine->isOpen()) {
            mpLine->open();
            if (serial) serial->resetLines();
        }
        if (serial && supportsDTR()) serial->toggleDTR(true);
        if (mpLine->getState() != muConfigurationID) {
            initialize();
            sendCommands(getPreconnectCommands());
            mpLine->setState(muConfigurationID);
        }
        sendCommand(getConnectCommand(), muConnectTimeout, true, static_cast<unsigned int>(miAttempts), true, nullptr,
                    false);
        OS::StopWatch watch;
        while (!isOpen() && watch.getElapsed() < kOpenCheckMs) Thread::Thread::sleep(kOpenCheckStepMs);
        if (!isOpen()) fail(ErrModemNotOpenAfterDial, __LINE__, "no connection after the dial");
    }
    if (mbMultiStepConnect && !msUserData.isEmpty()) {
        try {
            sendUserData(msUserData, muWaitOnConnect, muNetworkConfirmationTimeout);
        } catch (const Base::Exception&) {
            close();
            throw;
        }
    } else if (muWaitOnConnect > 0) {
        Thread::Thread::sleep(muWaitOnConnect);
    }
}

void Modem::initialize() {
    try {
        checkModemType();
        sendCommands(getInitCommands());
    } catch (const Base::Exception&) {
        // A modem that could not be identified or set up may still dial.
    }
}

void Modem::accept() {
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (!mpLine->isOpen()) {
        mpLine->open();
        if (serial) serial->resetLines();
    }
    if (serial && supportsDTR()) serial->toggleDTR(true);
    mbIncoming = true;
    sendCommand("A", muConnectTimeout, true, 4, false, nullptr, false);
    waitForDCD(3000, true);
}

bool Modem::checkForRing(unsigned int ms) {
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (serial && supportsDTR()) serial->toggleDTR(true);
    if (mpLine->getState() != muConfigurationID) {
        sendCommands(getPreconnectCommands());
        mpLine->setState(muConfigurationID);
    }
    bool found = false;
    waitForAnswer("RING", ms, &found);
    mbRingDetected = found;
    return found;
}

void Modem::hangup() {
    clearInput();
    if (!isOpen()) {
        mbHungUp = true;
        return;
    }
    sleepUntilWriteClock(getDelayToDisconnect());
    if (mpLogger) mpLogger->logEvent(LogModemHangup, ModemLogLevel);
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (serial && supportsDTR()) {
        serial->toggleDTR(false);
        waitForDCD(10000, false);
        mbHungUp = true;
        mbConnected = false;
        receiveCommandResponse(0, false, nullptr, false);
        mbCommandMode = true;
    } else {
        sendCommand("H", 0, false, 4, false, nullptr, false);
        mbConnected = false;
        mbCommandMode = true;
    }
    mbHungUp = true;
}

void Modem::close() {
    if (!mbHungUp) hangup();
}

bool Modem::isOpen() {
    if (mpLine->getState() != muConfigurationID) {
        mbHungUp = true;
        return false;
    }
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (serial && supportsDCD()) {
        bool opened = false;
        if (!mpLine->isOpen()) {
            mpLine->open();
            opened = true;
        }
        bool dcd = false;
        try {
            dcd = serial->readDCD();
        } catch (...) {
            if (opened) mpLine->close();
            throw;
        }
        if (opened) mpLine->close();
        if (!dcd && !mbCommandMode) mbCommandMode = true;
        mbHungUp = !dcd;
        return dcd;
    }
    mbHungUp = !mbConnected;
    return mbConnected;
}

void Modem::waitForDCD(unsigned int ms, bool level) {
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (!serial || !supportsDCD()) return;
    OS::StopWatch watch;
    bool dcd = serial->readDCD();
    while (dcd != level && watch.getElapsed() < ms) {
        Thread::Thread::sleep(kDcdStepMs);
        dcd = serial->readDCD();
    }
}

// --- data path ------------------------------------------------------------------------------

long Modem::read(char* buffer, long length) {
    return IO::UnreliableDevice::readWithTimeout(*this, buffer, length, getTimeout());
}

long Modem::readInternal(char* buffer, long length) {
    if (!isOpen()) fail(ErrModemNotConnected, __LINE__, "no connection");
    return mpLine->readInternal(buffer, length);
}

bool Modem::waitForData(unsigned int ms) {
    if (!isOpen()) fail(ErrModemNotConnected, __LINE__, "no connection");
    return mpLine->waitForData(ms);
}

long Modem::write(const char* buffer, long length) {
    if (!isOpen()) return 0;
    long n = mpLine->write(buffer, length);
    mWriteClock.start();
    return n;
}

void Modem::flush() {
    if (!isOpen()) return;
    mpLine->flush();
    mWriteClock.start();
}

long Modem::size() { return isOpen() ? mpLine->size() : 0; }

bool Modem::isEOF() { return !isOpen() || mpLine->isEOF(); }

unsigned int Modem::getTimeout() { return mpLine->getTimeout(); }

}  // namespace Net
