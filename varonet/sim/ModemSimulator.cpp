// The simulated modem: a command interpreter, a data path with escape
// detection, and scripted far ends, run on one thread.
//
//   application                     simulator                  far end
//     "ATDT555" CR ------------------->
//     <------------------- "CONNECT 33600" (carrier up)
//     data --------------------------->  ------------------------> echo / sink / network
//     (1 s silence) "+++" (1 s) ------>
//     <------------------- "OK"          (online command mode)
//     "ATH" CR ----------------------->  carrier down

#include <varonet/sim/ModemSimulator.h>

#include <algorithm>
#include <cctype>

#include <varonet/base/Exception.h>
#include <varonet/base/PseudoTerminal.h>
#include <varonet/base/SerialDevice.h>

namespace Sim {

namespace {

// How long the thread waits for the line before it looks at its timers again.
constexpr unsigned int kPollMs = 5;

bool startsWithNoCase(const std::string& text, std::size_t at, const char* word) {
    for (std::size_t i = 0; word[i]; ++i)
        if (at + i >= text.size() || std::toupper(static_cast<unsigned char>(text[at + i])) != word[i]) return false;
    return true;
}

unsigned int readNumber(const std::string& text, std::size_t& i) {
    unsigned int value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) value = value * 10 + (text[i++] - '0');
    return value;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) out += "\r\n" + line;
    return out + "\r\n";
}

std::vector<std::string> toStd(const std::vector<Base::String>& lines) {
    return std::vector<std::string>(lines.begin(), lines.end());
}

}  // namespace

std::unique_ptr<ModemSimulator> ModemSimulator::onPseudoTerminal() {
    return std::make_unique<ModemSimulator>(std::make_unique<IO::PseudoTerminal>());
}

std::unique_ptr<ModemSimulator> ModemSimulator::onVirtualPort(const Base::String& portName) {
    auto port = std::make_unique<IO::SerialDevice>(portName, IO::SerialDevice::Baud115200);
    port->open();
    return std::make_unique<ModemSimulator>(std::move(port));
}

ModemSimulator::ModemSimulator(std::unique_ptr<IO::Device> line) : mpLine(std::move(line)) {
    if (!mpLine->isOpen()) mpLine->open();
    auto* pty = dynamic_cast<IO::PseudoTerminal*>(mpLine.get());
    msPortPath = pty ? pty->getSlavePath() : mpLine->getName();
    auto* serial = dynamic_cast<IO::SerialDevice*>(mpLine.get());
    if (serial && serial->hasModemLines()) {
        mpSerial = serial;
        mpSerial->toggleDTR(false);  // no carrier until a call stands
    }
    mLastByte = Clock::now();
    mbHostDtr = readHostDtr();
    mThread = std::thread([this] { run(); });
}

ModemSimulator::~ModemSimulator() {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        mbStop = true;
    }
    mThread.join();
    mpLine->close();
}

// --- behaviour -------------------------------------------------------------------

void ModemSimulator::setIdentity(const std::vector<Base::String>& i0, const std::vector<Base::String>& i3) {
    std::lock_guard<std::mutex> guard(mMutex);
    mI0 = toStd(i0);
    mI3 = toStd(i3);
}

void ModemSimulator::setEcho(bool echo) {
    std::lock_guard<std::mutex> guard(mMutex);
    mbEcho = mbStoredEcho = echo;
}

void ModemSimulator::setSilent(bool silent) {
    std::lock_guard<std::mutex> guard(mMutex);
    mbSilent = silent;
}

void ModemSimulator::setGuardTime(unsigned int ms) {
    std::lock_guard<std::mutex> guard(mMutex);
    muGuardMs = ms;
}

void ModemSimulator::setDialOutcomes(const Base::String& number, const std::vector<Dial>& outcomes) {
    std::lock_guard<std::mutex> guard(mMutex);
    mDialScripts[number.str()] = outcomes;
    mDialCounts[number.str()] = 0;
}

void ModemSimulator::setDefaultOutcome(const Dial& outcome) {
    std::lock_guard<std::mutex> guard(mMutex);
    mDefaultDial = outcome;
}

void ModemSimulator::setConnectSpeed(const Base::String& speed) {
    std::lock_guard<std::mutex> guard(mMutex);
    msConnectSpeed = speed.str();
}

void ModemSimulator::setFarEnd(EFarEnd farEnd) {
    std::lock_guard<std::mutex> guard(mMutex);
    meFarEnd = farEnd;
}

void ModemSimulator::setNetwork(const Network& network) {
    std::lock_guard<std::mutex> guard(mMutex);
    meFarEnd = FarEndPacketNetwork;
    mNetwork = network;
}

void ModemSimulator::setDcdWired(bool wired) {
    std::lock_guard<std::mutex> guard(mMutex);
    mbDcdWired = wired;
}

void ModemSimulator::setDtrHangupReply(const Base::String& reply) {
    std::lock_guard<std::mutex> guard(mMutex);
    msDtrHangupReply = reply.str();
}

// --- the far end -------------------------------------------------------------------

void ModemSimulator::post(std::function<void()> action) {
    std::lock_guard<std::mutex> guard(mMutex);
    mActions.push_back(std::move(action));
}

void ModemSimulator::ring() {
    post([this] {
        mbRinging = true;
        if (meMode == ModeCommand) sendToHost(result("RING"));
    });
}

void ModemSimulator::sendFromFarEnd(const Base::String& bytes) {
    post([this, text = bytes.str()] { sendToHost(text); });
}

void ModemSimulator::hangUpFromFarEnd() {
    post([this] {
        if (mbCarrier) dropCall("NO CARRIER");
    });
}

// --- observation -----------------------------------------------------------------------

Base::String ModemSimulator::received() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return msReceived;
}

std::vector<Base::String> ModemSimulator::commandLines() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return std::vector<Base::String>(mCommandLines.begin(), mCommandLines.end());
}

Base::String ModemSimulator::farEndReceived() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return msFarEnd;
}

void ModemSimulator::clearRecord() {
    std::lock_guard<std::mutex> guard(mMutex);
    msReceived.clear();
    mCommandLines.clear();
    msFarEnd.clear();
}

bool ModemSimulator::isOnline() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return meMode == ModeOnline;
}

bool ModemSimulator::hasCarrier() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return mbCarrier;
}

bool ModemSimulator::isEchoOn() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return mbEcho;
}

bool ModemSimulator::waitLocked(unsigned int ms, const std::function<bool()>& done) const {
    std::unique_lock<std::mutex> guard(mMutex);
    return mChanged.wait_for(guard, std::chrono::milliseconds(ms), done);
}

bool ModemSimulator::waitForReceived(const Base::String& text, unsigned int ms) const {
    return waitLocked(ms, [&] { return msReceived.find(text.str()) != std::string::npos; });
}

bool ModemSimulator::waitForFarEnd(const Base::String& text, unsigned int ms) const {
    return waitLocked(ms, [&] { return msFarEnd.find(text.str()) != std::string::npos; });
}

bool ModemSimulator::waitForCarrier(bool level, unsigned int ms) const {
    return waitLocked(ms, [&] { return mbCarrier == level; });
}

// --- the thread --------------------------------------------------------------------------

void ModemSimulator::run() {
    char buffer[512];
    for (;;) {
        bool readable = false;
        try {
            readable = mpLine->waitForData(kPollMs);
        } catch (const Base::Exception&) {}
        std::unique_lock<std::mutex> guard(mMutex);
        if (mbStop) break;
        // A line that fails now may work on the next turn: the thread never dies of it.
        try {
            long n = readable ? std::min(mpLine->size(), static_cast<long>(sizeof buffer)) : 0;
            if (n > 0) n = mpLine->readInternal(buffer, n);
            if (n > 0) onBytes(buffer, n);
            while (!mActions.empty()) {
                auto action = std::move(mActions.front());
                mActions.pop_front();
                action();
            }
            tick(Clock::now());
        } catch (const Base::Exception&) {}
        mChanged.notify_all();
    }
}

void ModemSimulator::sendToHost(const std::string& bytes) {
    if (!bytes.empty()) mpLine->write(bytes.data(), static_cast<long>(bytes.size()));
}

void ModemSimulator::setCarrier(bool on) {
    mbCarrier = on;
    if (mpSerial) mpSerial->toggleDTR(on && mbDcdWired);
}

bool ModemSimulator::readHostDtr() { return mpSerial ? mpSerial->readDCD() : true; }

void ModemSimulator::dropCall(const std::string& reply) {
    setCarrier(false);
    meMode = ModeCommand;
    miPlusCount = 0;
    mTimers.clear();
    if (!reply.empty()) sendToHost(result(reply));
}

void ModemSimulator::onBytes(const char* bytes, long count) {
    msReceived.append(bytes, static_cast<std::size_t>(count));
    auto now = Clock::now();
    for (long i = 0; i < count; ++i) {
        if (meMode == ModeOnline) onDataByte(bytes[i], now);
        else onCommandByte(bytes[i]);
    }
    mLastByte = now;
}

void ModemSimulator::onCommandByte(char c) {
    if (c == '\n') return;
    if (c != '\r') {
        msCommand += c;
        return;
    }
    std::string line;
    line.swap(msCommand);
    mCommandLines.push_back(line);
    executeLine(line);
}

void ModemSimulator::onDataByte(char c, Clock::time_point now) {
    auto guard = std::chrono::milliseconds(muGuardMs);
    if (c == '+' && miPlusCount < 3 && (miPlusCount > 0 || now - mLastByte >= guard)) {
        ++miPlusCount;
        mLastPlus = now;
        return;
    }
    // Not an escape after all: the held-back "+" signs were data.
    std::string data(static_cast<std::size_t>(miPlusCount), '+');
    miPlusCount = 0;
    data += c;
    deliverToFarEnd(data);
}

void ModemSimulator::deliverToFarEnd(const std::string& bytes) {
    msFarEnd += bytes;
    if (meFarEnd == FarEndEcho) {
        sendToHost(bytes);
    } else if (meFarEnd == FarEndPacketNetwork && mNetwork.confirms) {
        for (char c : bytes)
            if (c == '\r') sendToHost(result(mNetwork.confirmation.str()));
    }
}

void ModemSimulator::tick(Clock::time_point now) {
    auto guard = std::chrono::milliseconds(muGuardMs);
    if (meMode == ModeOnline && miPlusCount > 0 && now - mLastPlus >= guard) {
        if (miPlusCount == 3) {
            miPlusCount = 0;
            meMode = ModeOnlineCommand;
            sendToHost(result("OK"));
        } else {
            std::string data(static_cast<std::size_t>(miPlusCount), '+');
            miPlusCount = 0;
            deliverToFarEnd(data);
        }
    }
    bool dtr = readHostDtr();
    if (mbHostDtr && !dtr && mbCarrier && miDtrMode == 2) dropCall(msDtrHangupReply);
    mbHostDtr = dtr;
    // Timers may add timers; run the due ones in order of their time.
    for (;;) {
        auto due = std::min_element(mTimers.begin(), mTimers.end(),
                                    [](const auto& a, const auto& b) { return a.first < b.first; });
        if (due == mTimers.end() || due->first > now) break;
        auto action = std::move(due->second);
        mTimers.erase(due);
        action();
    }
}

// --- commands ---------------------------------------------------------------------------

void ModemSimulator::executeLine(const std::string& line) {
    if (mbSilent) return;
    std::size_t at = std::string::npos;
    for (std::size_t i = 0; i + 1 < line.size() && at == std::string::npos; ++i)
        if (startsWithNoCase(line, i, "AT")) at = i;
    if (at == std::string::npos) return;  // not a command: a modem ignores it
    bool echoBefore = mbEcho;
    std::string reply = runCommands(line.substr(at + 2));
    std::string echo = echoBefore && mbEcho ? line + "\r" : "";
    sendToHost(echo + reply);
}

// Runs the commands of one line; returns the info text and the result (none while a dial is pending).
std::string ModemSimulator::runCommands(const std::string& body) {
    std::string info;
    std::size_t i = 0;
    while (i < body.size()) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i])));
        if (c == ' ') {
            ++i;
        } else if (startsWithNoCase(body, i, "%TCB")) {
            i += 4;
        } else if (c == '%') {
            i += 2;
            readNumber(body, i);
        } else if (c == '+' || c == '*' || c == '#') {
            break;  // an extended command takes the rest of the line as its parameters
        } else if (c == '&') {
            char letter =
                i + 1 < body.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(body[i + 1]))) : 0;
            i += 2;
            unsigned int value = readNumber(body, i);
            if (letter == 'F') {
                mbEcho = true;
                miDtrMode = 2;
            } else if (letter == 'D') {
                miDtrMode = static_cast<int>(value);
            } else if (letter != 'K' && letter != 'C' && letter != 'W' && letter != 'V') {
                return result("ERROR");
            }
        } else if (c == 'S') {
            ++i;
            unsigned int reg = readNumber(body, i);
            if (i < body.size() && body[i] == '=') {
                ++i;
                readNumber(body, i);
            } else if (i < body.size() && body[i] == '?') {
                ++i;
                info += "\r\n" + std::to_string(reg) + "\r\n";
            }
        } else if (c == 'D') {
            dial(body.substr(i + 1));
            return info;
        } else if (c == 'A') {
            if (!mbRinging) return info + result("NO CARRIER");
            mbRinging = false;
            setCarrier(true);
            meMode = ModeOnline;
            return info + result("CONNECT " + msConnectSpeed);
        } else if (c == 'I') {
            ++i;
            unsigned int which = readNumber(body, i);
            const auto& lines = which == 0 ? mI0 : mI3;
            if ((which == 0 || which == 3) && !lines.empty()) info += joinLines(lines);
        } else if (c == 'E') {
            ++i;
            mbEcho = readNumber(body, i) != 0;
        } else if (c == 'Z') {
            ++i;
            readNumber(body, i);
            mbEcho = mbStoredEcho;
        } else if (c == 'H') {
            ++i;
            readNumber(body, i);
            mbRinging = false;
            if (mbCarrier) setCarrier(false);
            meMode = ModeCommand;
        } else if (c == 'O') {
            ++i;
            readNumber(body, i);
            if (!mbCarrier) return info + result("NO CARRIER");
            meMode = ModeOnline;
            return info + result("CONNECT " + msConnectSpeed);
        } else if (std::string("BLMQVXWPT").find(c) != std::string::npos) {
            ++i;
            readNumber(body, i);
        } else {
            return info + result("ERROR");
        }
    }
    return info + result("OK");
}

void ModemSimulator::dial(const std::string& dialString) {
    std::string number = dialString;
    if (!number.empty() && std::string("TtPp").find(number[0]) != std::string::npos) number.erase(0, 1);
    Dial next = mDefaultDial;
    auto script = mDialScripts.find(number);
    if (script != mDialScripts.end() && !script->second.empty()) {
        std::size_t& count = mDialCounts[number];
        next = script->second[std::min(count, script->second.size() - 1)];
        ++count;
    }
    if (next.outcome == Silence) return;
    // Even without delay the outcome follows the echo of the dial command.
    EOutcome outcome = next.outcome;
    mTimers.emplace_back(Clock::now() + std::chrono::milliseconds(next.delayMs),
                         [this, outcome] { finishDial(outcome); });
}

void ModemSimulator::finishDial(EOutcome outcome) {
    switch (outcome) {
        case Connect:
            // The carrier rises before the result line, as on a real modem.
            setCarrier(true);
            meMode = ModeOnline;
            mLastByte = Clock::now();
            sendToHost(result("CONNECT " + msConnectSpeed));
            if (meFarEnd == FarEndPacketNetwork)
                mTimers.emplace_back(Clock::now() + std::chrono::milliseconds(mNetwork.greetingDelayMs),
                                     [this, greeting = mNetwork.greeting.str()] { sendToHost(result(greeting)); });
            break;
        case Busy: sendToHost(result("BUSY")); break;
        case NoCarrier: sendToHost(result("NO CARRIER")); break;
        case NoDialtone: sendToHost(result("NO DIALTONE")); break;
        case Blacklisted: sendToHost(result("BLACKLISTED")); break;
        case Error: sendToHost(result("ERROR")); break;
        case Silence: break;
    }
}

}  // namespace Sim
