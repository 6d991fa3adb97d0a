#include "peers/ModemSimulator.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include <varonet/base/FileInternal.h>
#include <varonet/base/SerialDevice.h>

namespace Peers {

using namespace std::chrono_literals;

// What the simulator needs of its end of the line.
class ModemSimulator::Port {
public:
    virtual ~Port() = default;
    /// Waits up to ms for input.
    virtual bool wait(unsigned int ms) = 0;
    /// Takes what is there (0 when nothing is).
    virtual long read(char* buffer, long length) = 0;
    virtual void write(const std::string& bytes) = 0;
    /// Our DTR, the host's DCD.
    virtual void setCarrier(bool on) = 0;
    /// The host's DTR (true on a line without modem lines).
    virtual bool hostDtr() = 0;
};

namespace {

class VirtualEnd : public ModemSimulator::Port {
public:
    explicit VirtualEnd(const std::string& name) : mDevice(name, IO::SerialDevice::Baud115200) {
        mDevice.open();
        mDevice.toggleDTR(false);  // no carrier until a call stands
    }
    bool wait(unsigned int ms) override { return mDevice.waitForData(ms); }
    long read(char* buffer, long length) override {
        long n = std::min(mDevice.size(), length);
        return n > 0 ? mDevice.readInternal(buffer, n) : 0;
    }
    void write(const std::string& bytes) override { mDevice.write(bytes.data(), static_cast<long>(bytes.size())); }
    void setCarrier(bool on) override { mDevice.toggleDTR(on); }
    bool hostDtr() override { return mDevice.readDCD(); }

private:
    IO::SerialDevice mDevice;
};

class PtyMaster : public ModemSimulator::Port {
public:
    PtyMaster(int fd, bool owns) : mFile(fd, owns) {}
    bool wait(unsigned int ms) override {
        if (!mFile.waitReadable(ms)) return false;
        if (mFile.available() > 0) return true;
        // Readable without bytes: nobody holds the other side open; do not spin.
        std::this_thread::sleep_for(5ms);
        return false;
    }
    long read(char* buffer, long length) override {
        long n = std::min(mFile.available(), length);
        return n > 0 ? mFile.read(buffer, n) : 0;
    }
    void write(const std::string& bytes) override { mFile.write(bytes.data(), static_cast<long>(bytes.size())); }
    void setCarrier(bool) override {}
    bool hostDtr() override { return true; }

private:
    IO::FileInternal mFile;
};

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

std::string join(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) out += "\r\n" + line;
    return out + "\r\n";
}

}  // namespace

std::unique_ptr<ModemSimulator> ModemSimulator::onVirtualPort(const std::string& portName) {
    return std::unique_ptr<ModemSimulator>(new ModemSimulator(std::make_unique<VirtualEnd>(portName)));
}

std::unique_ptr<ModemSimulator> ModemSimulator::onPtyMaster(int masterFd, bool owns) {
    return std::unique_ptr<ModemSimulator>(new ModemSimulator(std::make_unique<PtyMaster>(masterFd, owns)));
}

ModemSimulator::ModemSimulator(std::unique_ptr<Port> port) : mpPort(std::move(port)) {
    mLastByte = Clock::now();
    mbHostDtr = mpPort->hostDtr();
    mThread = std::thread([this] { run(); });
}

ModemSimulator::~ModemSimulator() {
    {
        std::lock_guard<std::mutex> guard(mMutex);
        mbStop = true;
    }
    mThread.join();
}

// --- behaviour -------------------------------------------------------------------

void ModemSimulator::setIdentity(const std::vector<std::string>& i0, const std::vector<std::string>& i3) {
    std::lock_guard<std::mutex> guard(mMutex);
    mI0 = i0;
    mI3 = i3;
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

void ModemSimulator::setDialOutcomes(const std::string& number, const std::vector<Dial>& outcomes) {
    std::lock_guard<std::mutex> guard(mMutex);
    mDialScripts[number] = outcomes;
    mDialCounts[number] = 0;
}

void ModemSimulator::setDefaultOutcome(const Dial& outcome) {
    std::lock_guard<std::mutex> guard(mMutex);
    mDefaultDial = outcome;
}

void ModemSimulator::setConnectSpeed(const std::string& speed) {
    std::lock_guard<std::mutex> guard(mMutex);
    msConnectSpeed = speed;
}

void ModemSimulator::setFarEnd(EFarEnd farEnd) {
    std::lock_guard<std::mutex> guard(mMutex);
    meFarEnd = farEnd;
}

void ModemSimulator::setNetwork(const std::string& greeting, const std::string& confirmation, bool confirms,
                                unsigned int greetingDelayMs) {
    std::lock_guard<std::mutex> guard(mMutex);
    meFarEnd = FarEndPacketNetwork;
    msGreeting = greeting;
    msConfirmation = confirmation;
    mbConfirms = confirms;
    muGreetingDelayMs = greetingDelayMs;
}

void ModemSimulator::setDcdWired(bool wired) {
    std::lock_guard<std::mutex> guard(mMutex);
    mbDcdWired = wired;
}

void ModemSimulator::setDtrHangupReply(const std::string& reply) {
    std::lock_guard<std::mutex> guard(mMutex);
    msDtrHangupReply = reply;
}

// --- actions -----------------------------------------------------------------------

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

void ModemSimulator::sendFromFarEnd(const std::string& bytes) {
    post([this, bytes] { sendToHost(bytes); });
}

void ModemSimulator::hangUpFromFarEnd() {
    post([this] {
        if (mbCarrier) dropCall("NO CARRIER");
    });
}

// --- observation -----------------------------------------------------------------------

std::string ModemSimulator::received() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return msReceived;
}

std::vector<std::string> ModemSimulator::commandLines() const {
    std::lock_guard<std::mutex> guard(mMutex);
    return mCommandLines;
}

std::string ModemSimulator::farEndReceived() const {
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

bool ModemSimulator::waitForReceived(const std::string& text, unsigned int ms) const {
    std::unique_lock<std::mutex> guard(mMutex);
    return mChanged.wait_for(guard, std::chrono::milliseconds(ms),
                             [&] { return msReceived.find(text) != std::string::npos; });
}

bool ModemSimulator::waitForFarEnd(const std::string& text, unsigned int ms) const {
    std::unique_lock<std::mutex> guard(mMutex);
    return mChanged.wait_for(guard, std::chrono::milliseconds(ms),
                             [&] { return msFarEnd.find(text) != std::string::npos; });
}

bool ModemSimulator::waitForCarrier(bool level, unsigned int ms) const {
    std::unique_lock<std::mutex> guard(mMutex);
    return mChanged.wait_for(guard, std::chrono::milliseconds(ms), [&] { return mbCarrier == level; });
}

// --- the thread --------------------------------------------------------------------------

void ModemSimulator::run() {
    char buffer[512];
    for (;;) {
        bool readable = mpPort->wait(5);
        std::unique_lock<std::mutex> guard(mMutex);
        if (mbStop) break;
        if (readable) {
            long n = mpPort->read(buffer, sizeof buffer);
            if (n > 0) onBytes(buffer, n);
        }
        while (!mActions.empty()) {
            auto action = std::move(mActions.front());
            mActions.pop_front();
            action();
        }
        tick(Clock::now());
        mChanged.notify_all();
    }
}

void ModemSimulator::sendToHost(const std::string& bytes) {
    if (!bytes.empty()) mpPort->write(bytes);
}

void ModemSimulator::setCarrier(bool on) {
    mbCarrier = on;
    mpPort->setCarrier(on && mbDcdWired);
}

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
    } else if (meFarEnd == FarEndPacketNetwork) {
        for (char c : bytes) {
            if (c != '\r') {
                if (c != '\n') msNetworkLine += c;
                continue;
            }
            msNetworkLine.clear();
            if (mbConfirms) sendToHost(result(msConfirmation));
        }
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
    bool dtr = mpPort->hostDtr();
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
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        if (startsWithNoCase(line, i, "AT")) {
            at = i;
            break;
        }
    if (at == std::string::npos) return;  // not a command: a modem ignores it
    bool echoBefore = mbEcho;
    bool finalPending = false;
    std::string reply = runCommands(line.substr(at + 2), finalPending);
    std::string echo = echoBefore && mbEcho ? line + "\r" : "";
    sendToHost(echo + reply);
}

// Runs the commands of one line; returns the info text and the result (unless a dial or an answer is pending).
std::string ModemSimulator::runCommands(const std::string& body, bool& finalPending) {
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
            char letter = i + 1 < body.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(body[i + 1]))) : 0;
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
            finalPending = true;
            dial(body.substr(i + 1));
            return info;
        } else if (c == 'A') {
            finalPending = true;
            if (mbRinging) {
                mbRinging = false;
                setCarrier(true);
                meMode = ModeOnline;
                return info + result("CONNECT " + msConnectSpeed);
            }
            return info + result("NO CARRIER");
        } else if (c == 'I') {
            ++i;
            unsigned int which = readNumber(body, i);
            const auto& lines = which == 0 ? mI0 : mI3;
            if ((which == 0 || which == 3) && !lines.empty()) info += join(lines);
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
    if (!number.empty() && (std::toupper(static_cast<unsigned char>(number[0])) == 'T' ||
                            std::toupper(static_cast<unsigned char>(number[0])) == 'P'))
        number.erase(0, 1);
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
    mTimers.emplace_back(Clock::now() + std::chrono::milliseconds(next.delayMs), [this, outcome] { finishDial(outcome); });
}

void ModemSimulator::finishDial(EOutcome outcome) {
    switch (outcome) {
    case Connect: {
        // DCD rises before the result line, as on a real modem.
        setCarrier(true);
        meMode = ModeOnline;
        mLastByte = Clock::now();
        sendToHost(result("CONNECT " + msConnectSpeed));
        if (meFarEnd == FarEndPacketNetwork) {
            std::string greeting = msGreeting;
            mTimers.emplace_back(Clock::now() + std::chrono::milliseconds(muGreetingDelayMs),
                                 [this, greeting] { sendToHost(result(greeting)); });
        }
        break;
    }
    case Busy: sendToHost(result("BUSY")); break;
    case NoCarrier: sendToHost(result("NO CARRIER")); break;
    case NoDialtone: sendToHost(result("NO DIALTONE")); break;
    case Blacklisted: sendToHost(result("BLACKLISTED")); break;
    case Error: sendToHost(result("ERROR")); break;
    case Silence: break;
    }
}

}  // namespace Peers
