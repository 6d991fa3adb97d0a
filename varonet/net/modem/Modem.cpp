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
// A multi-step connection waits at least this long for the greeting and for the confirmation.
constexpr unsigned int kGreetingLeastWaitMs = 1000;
constexpr unsigned int kConfirmationLeastWaitMs = 2000;
// After "ATA" the carrier must rise within this time.
constexpr unsigned int kAnswerDcdWaitMs = 3000;
// After a DTR drop the carrier must fall within this time.
constexpr unsigned int kHangupDcdWaitMs = 10000;
constexpr unsigned int kMsPerSecond = 1000;

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

Modem::Modem(StatefulDevice* line, Log::Logger* logger, bool multiStepConnect, ELineUse lineUse)
    : IO::WrapperDevice(line, lineUse == OwnsLine), mpLine(line) {
    if (!line) fail(Base::ErrBadArgument, __LINE__, "a modem needs a line");
    mSettings.mpLogger = logger;
    mSettings.mbMultiStepConnect = multiStepConnect;
    if (multiStepConnect) {
        mSettings.muWaitOnConnect = kMultiStepWaitOnConnectMs;
        mSettings.muNetworkConfirmationTimeout = kNetworkConfirmationTimeoutMs;
    }
    mSettings.muConfigurationID = line->registerState();
}

Modem::Modem(const Modem& other)
    : IO::WrapperDevice(other.mpLine, false), mpLine(other.mpLine), mSettings(other.mSettings) {
    IO::Device::operator=(other);  // the device manager
}

Modem& Modem::operator=(const Modem& other) {
    mSettings = other.mSettings;
    return *this;
}

Modem::~Modem() {
    try {
        if (!mSettings.mbHungUp) hangup();
    } catch (const Base::Exception& e) {
        logFailure(e.getErrorCode());
    } catch (...) {
        // A destructor must not throw; the line goes away with us anyway.
    }
}

// --- logging -------------------------------------------------------------------

void Modem::logSent(const Base::String& text) {
    if (mSettings.mpLogger) mSettings.mpLogger->logString(LogModemSent, text, ModemLogLevel);
}

void Modem::logReceived(const Base::String& text) {
    if (mSettings.mpLogger) mSettings.mpLogger->logString(LogModemReceived, text, ModemLogLevel);
}

void Modem::logFailure(unsigned int code) {
    if (mSettings.mpLogger) mSettings.mpLogger->logError(code, 0);
}

// --- settings ------------------------------------------------------------------

void Modem::setNumber(const Base::String& number) {
    Base::String oldName = getName();
    mSettings.msNumber = number;
    mSettings.mbIncoming = false;
    if (IO::DeviceManager* manager = getDeviceManager()) manager->deviceRenamed(oldName, this);
}

void Modem::setUserData(const Base::String& userData) {
    Base::String oldName = getName();
    mSettings.msUserData = userData;
    if (IO::DeviceManager* manager = getDeviceManager()) manager->deviceRenamed(oldName, this);
}

void Modem::setAttempts(int attempts) {
    if (attempts >= 1) mSettings.miAttempts = attempts;
}

void Modem::setPreinitialized(bool preinitialized) {
    mpLine->setState(preinitialized ? mSettings.muConfigurationID : 0);
}

bool Modem::isIncomingConfigurationRequired() { return mpLine->getState() != mSettings.muConfigurationID; }

// --- line capabilities -------------------------------------------------------------

IO::SerialDevice* Modem::getUnderlyingSerialDevice() const {
    return dynamic_cast<IO::SerialDevice*>(mpLine->getUnderlying());
}

bool Modem::lineHasModemLines() {
    if (mSettings.miModemLines >= 0) return mSettings.miModemLines == 1;
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (!serial) return false;
    // A port only tells whether it has modem lines while it is open.
    bool opened = false;
    try {
        if (!serial->isOpen()) {
            serial->open();
            opened = true;
        }
        mSettings.miModemLines = serial->hasModemLines() ? 1 : 0;
    } catch (const Base::Exception&) {
        if (opened) serial->close();
        return false;
    }
    if (opened) serial->close();
    return mSettings.miModemLines == 1;
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
    Base::String name = mpLine->getName() + ":" + mSettings.msNumber;
    if (!mSettings.msUserData.isEmpty()) name += "/" + mSettings.msUserData;
    return name;
}

// --- command builders ------------------------------------------------------------------

Base::String Modem::getStandardInitialization() {
    if (mSettings.mbPreconfigured) return "";
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
    std::uint64_t elapsed = mSettings.mWriteClock.getElapsed();
    if (elapsed < ms) Thread::Thread::sleep(static_cast<unsigned int>(ms - elapsed));
}

void Modem::receiveCommandResponse(const CommandOptions& options) {
    const unsigned int replyTime = options.replyTime == 0 ? kDefaultReplyMs : options.replyTime;
    const bool dialing = options.dialing;
    OS::StopWatch watch;
    if (!mpLine->waitForData(replyTime)) {
        // Silence means the mode was guessed wrong: a modem in data mode passes a
        // command to the far end and says nothing, and one that took commands
        // already may ignore "+++". The next command tries the other mode.
        mSettings.mbCommandMode = !mSettings.mbCommandMode;
        if (dialing) throw Base::TimeoutException(".", __LINE__, "no reply to the dial command");
        fail(ErrModemNoReply, __LINE__, "no reply from the modem");
    }
    bool intermediate = false;
    for (;;) {
        Base::String line("");
        if (intermediate && !mpLine->waitForData(kIntermediateWaitMs)) {
            if (!dialing || watch.getElapsed() > replyTime)
                fail(ErrModemNoReply, __LINE__, "the modem's reply ended early");
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
            mSettings.mbConnected = true;
            mSettings.mbCommandMode = false;
        } else if (line.contains("NO CARRIER")) {
            mSettings.mbConnected = false;
            mSettings.mbCommandMode = true;
            if (dialing) fail(ErrModemNoCarrier, __LINE__, "NO CARRIER");
        } else if (line.contains("CARRIER")) {
            mSettings.mbConnected = true;
            mSettings.mbCommandMode = false;
        } else if (line.contains("NO DIALTONE")) {
            mSettings.mbConnected = false;
            mSettings.mbCommandMode = true;
            fail(ErrModemNoDialtone, __LINE__, "NO DIALTONE");
        } else if (line.contains("BUSY")) {
            mSettings.mbConnected = false;
            mSettings.mbCommandMode = true;
            fail(ErrModemBusy, __LINE__, "BUSY");
        } else if (line.contains("BLACKLISTED")) {
            mSettings.mbConnected = false;
            mSettings.mbCommandMode = true;
            fail(ErrModemBlacklisted, __LINE__, "BLACKLISTED");
        } else if ((line.startsWith("+") && line.contains(":")) || isEmptyLine(line)) {
            intermediate = true;
            continue;
        } else if (line.contains("OK") || options.acceptAny) {
            // finished
        } else {
            // "ERROR" to a command the modem understood comes from a modem that
            // still holds a call (online command mode refuses set-up and dial
            // commands): count the call as standing, so that close hangs it up.
            // Any other line is not the modem's command answer but data from a
            // call (or our own echo): the mode was guessed wrong, as on silence.
            if (line.contains("ERROR")) mSettings.mbConnected = true;
            else mSettings.mbCommandMode = !mSettings.mbCommandMode;
            if (dialing) fail(ErrModemDialFailed, __LINE__, "the dial command was refused: " + line);
        }
        if (options.response) *options.response = line;
        return;
    }
}

void Modem::sendCommand(const Base::String& command, const CommandOptions& options) {
    bool opened = false;
    if (!mpLine->isOpen()) {
        mpLine->open();
        opened = true;
    }
    for (unsigned int attempt = 1;; ++attempt) {
        Base::String commandLine = "AT" + command + "\r";
        logSent(commandLine);
        try {
            if (!mSettings.mbCommandMode) {
                sleepUntilWriteClock(kEscapeGuardMs);
                clearInput();
                sendText("+++");
                logSent("+++");
                receiveCommandResponse();
                mSettings.mbCommandMode = true;
            }
            if (options.hangUpBeforeRetry && attempt > 1 && isOpen()) hangup();
            clearInput();
            sendText(commandLine);
            receiveCommandResponse(options);
        } catch (const Base::Exception& e) {
            if (attempt >= options.attempts || e.getErrorCode() == ErrModemNoDialtone) throw;
            if (e.getErrorCode() == ErrModemBlacklisted) mSettings.mbBlacklisted = true;
            logFailure(e.getErrorCode());
            if (options.dialing && mSettings.miRedialWaitingTime > 0)
                Thread::Thread::sleep(static_cast<unsigned int>(mSettings.miRedialWaitingTime) * kMsPerSecond);
            mSettings.mbCommandMode = true;
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
        sendCommand(piece);
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
    waitForAnswer(mSettings.msNetworkGreeting, std::max(greetingWait, kGreetingLeastWaitMs), nullptr);
    Base::String line = userData + "\r";
    logSent(line);
    clearInput();
    sendText(line);
    bool confirmed = false;
    Base::String answer = waitForAnswer(mSettings.msNetworkConfirmation,
                                        std::max(confirmationWait, kConfirmationLeastWaitMs), &confirmed);
    if (!answer.isEmpty()) logReceived(answer);
    if (!confirmed) fail(ErrModemNoNetworkConfirmation, __LINE__, "the network did not confirm the user data");
}

// --- connection -------------------------------------------------------------------------

void Modem::open() {
    mSettings.mbHungUp = false;
    if (!isOpen() && !mSettings.mbIncoming) {
        IO::SerialDevice* serial = getUnderlyingSerialDevice();
        if (!mpLine->isOpen()) {
            mpLine->open();
            if (serial) serial->resetLines();
        }
        if (serial && supportsDTR()) serial->toggleDTR(true);
        if (mpLine->getState() != mSettings.muConfigurationID) {
            initialize();
            sendCommands(getPreconnectCommands());
            mpLine->setState(mSettings.muConfigurationID);
        }
        sendCommand(getConnectCommand(), {.replyTime = mSettings.muConnectTimeout,
                                          .attempts = static_cast<unsigned int>(mSettings.miAttempts),
                                          .dialing = true});
        OS::StopWatch watch;
        while (!isOpen() && watch.getElapsed() < kOpenCheckMs) Thread::Thread::sleep(kOpenCheckStepMs);
        if (!isOpen()) fail(ErrModemNotOpenAfterDial, __LINE__, "no connection after the dial");
    }
    if (mSettings.mbMultiStepConnect && !mSettings.msUserData.isEmpty()) {
        try {
            sendUserData(mSettings.msUserData, mSettings.muWaitOnConnect, mSettings.muNetworkConfirmationTimeout);
        } catch (const Base::Exception&) {
            close();
            throw;
        }
    } else if (mSettings.muWaitOnConnect > 0) {
        Thread::Thread::sleep(mSettings.muWaitOnConnect);
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
    mSettings.mbIncoming = true;
    sendCommand("A", {.replyTime = mSettings.muConnectTimeout});
    waitForDCD(kAnswerDcdWaitMs, true);
}

bool Modem::checkForRing(unsigned int ms) {
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (serial && supportsDTR()) serial->toggleDTR(true);
    if (mpLine->getState() != mSettings.muConfigurationID) {
        sendCommands(getPreconnectCommands());
        mpLine->setState(mSettings.muConfigurationID);
    }
    bool found = false;
    waitForAnswer("RING", ms, &found);
    mSettings.mbRingDetected = found;
    return found;
}

void Modem::hangup() {
    clearInput();
    if (!isOpen()) {
        mSettings.mbHungUp = true;
        return;
    }
    sleepUntilWriteClock(getDelayToDisconnect());
    if (mSettings.mpLogger) mSettings.mpLogger->logEvent(LogModemHangup, ModemLogLevel);
    IO::SerialDevice* serial = getUnderlyingSerialDevice();
    if (serial && supportsDTR()) {
        serial->toggleDTR(false);
        waitForDCD(kHangupDcdWaitMs, false);
        mSettings.mbHungUp = true;
        mSettings.mbConnected = false;
        receiveCommandResponse();
        mSettings.mbCommandMode = true;
    } else {
        sendCommand("H", {.hangUpBeforeRetry = false});
        mSettings.mbConnected = false;
        mSettings.mbCommandMode = true;
    }
    mSettings.mbHungUp = true;
}

void Modem::close() {
    if (!mSettings.mbHungUp) hangup();
}

bool Modem::isOpen() {
    if (mpLine->getState() != mSettings.muConfigurationID) {
        mSettings.mbHungUp = true;
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
        if (!dcd && !mSettings.mbCommandMode) mSettings.mbCommandMode = true;
        mSettings.mbHungUp = !dcd;
        return dcd;
    }
    mSettings.mbHungUp = !mSettings.mbConnected;
    return mSettings.mbConnected;
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
    mSettings.mWriteClock.start();
    return n;
}

void Modem::flush() {
    if (!isOpen()) return;
    mpLine->flush();
    mSettings.mWriteClock.start();
}

long Modem::size() { return isOpen() ? mpLine->size() : 0; }

bool Modem::isEOF() { return !isOpen() || mpLine->isEOF(); }

unsigned int Modem::getTimeout() { return mpLine->getTimeout(); }

}  // namespace Net
