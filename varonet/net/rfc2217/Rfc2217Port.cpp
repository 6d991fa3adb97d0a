// The remote serial port's client: settings as RFC 2217 commands, data through Telnet.
#include <varonet/net/rfc2217/Rfc2217Port.h>

#include <array>
#include <optional>
#include <string>

#include <varonet/net/rfc2217/detail/TelnetCodes.h>
#include <varonet/net/rfc2217/detail/TelnetLink.h>

namespace Net {

using namespace Telnet;

namespace {
std::string be32(unsigned int value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }

unsigned int fromBe32(const std::string& bytes) {
    unsigned int value = 0;
    for (unsigned char c : bytes.substr(0, 4)) value = value << 8 | c;
    return value;
}

const char* parityName(unsigned char code) {
    static const char* const names[] = {"?", "none", "odd", "even", "mark", "space"};
    return names[code < 6 ? code : 0];
}
}  // namespace

// The client's half of the conversation: the commands it sends, the answers
// and notifications it keeps (under the link's lock), and the log.
class Rfc2217Port::Control : public TelnetLink::Handler {
public:
    Control(std::unique_ptr<IO::Device> transport, Log::Logger* logger, unsigned int replyMs)
        : mLink(std::move(transport),
                TelnetOptions({OptionBinary, OptionSuppressGoAhead, OptionComPort},
                              {OptionBinary, OptionSuppressGoAhead, OptionEcho}),
                *this),
          mpLogger(logger), muReplyMs(replyMs) {}

    void onNegotiation(unsigned char, unsigned char) override {}

    void onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) override {
        if (option != OptionComPort || length == 0 || payload[0] < ServerOffset) return;
        const unsigned int command = payload[0] - ServerOffset;
        if (command > PurgeData) return;  // an answer to nothing this client asks
        if (command == NotifyModemState && length >= 2) mcModemState = payload[1];
        maAnswer[command].assign(payload + 1, payload + length);
        ++maAnswers[command];
    }

    void open() {
        mLink.open();
        {
            auto guard = mLink.lock();
            maAnswers = {};
            mcModemState = 0;
            TelnetOptions& options = mLink.options();
            mLink.sendNegotiation(options.askMine(OptionBinary), OptionBinary);
            mLink.sendNegotiation(options.askTheirs(OptionBinary), OptionBinary);
            mLink.sendNegotiation(options.askMine(OptionComPort), OptionComPort);
        }
        mLink.waitUntil([this] { return !mLink.options().isPendingMine(OptionComPort); }, muReplyMs);
        auto guard = mLink.lock();
        if (!mLink.options().isMine(OptionComPort))
            log("the server does not offer port control: the port keeps the settings the server gives it");
        else if (!mLink.options().isTheirs(OptionBinary) || !mLink.options().isMine(OptionBinary))
            log("the server did not agree to binary data both ways; bytes are sent as they are");
    }

    bool hasControl() {
        auto guard = mLink.lock();
        return mLink.options().isMine(OptionComPort);
    }

    /// Sends command with value; the server's answer, or none when it has no
    /// port control or did not answer in time (logged).
    std::optional<std::string> ask(ComPortCommand command, const std::string& value, const Base::String& what) {
        unsigned int before = 0;
        {
            auto guard = mLink.lock();
            // Without port control nothing is sent (open has told the log so once).
            if (!mLink.options().isMine(OptionComPort)) return std::nullopt;
            before = maAnswers[command];
        }
        mLink.sendSubnegotiation(OptionComPort, std::string(1, char(command)) + value);
        if (!mLink.waitUntil([&] { return maAnswers[command] != before; }, muReplyMs)) {
            log("the server did not answer " + what + " within " + Base::String::fromUnsigned(muReplyMs) + " ms");
            return std::nullopt;
        }
        auto guard = mLink.lock();
        return maAnswer[command];
    }

    /// ask for a one-byte setting; false (logged) when the server answers with another value.
    bool setByte(ComPortCommand command, unsigned char value, const Base::String& what) {
        std::optional<std::string> answer = ask(command, std::string(1, char(value)), what);
        if (!answer) return true;  // carry on as if it was taken
        const unsigned char got = answer->empty() ? 0 : static_cast<unsigned char>((*answer)[0]);
        if (got == value) return true;
        log("the server refused " + what + " (it answered " + Base::String::fromUnsigned(got) + ")");
        return false;
    }

    bool setSpeed(unsigned int bitsPerSecond) {
        const Base::String what = "the speed " + Base::String::fromUnsigned(bitsPerSecond) + " bit/s";
        std::optional<std::string> answer = ask(SetBaudrate, be32(bitsPerSecond), what);
        if (!answer || fromBe32(*answer) == bitsPerSecond) return true;
        log("the server refused " + what + "; the port runs at " + Base::String::fromUnsigned(fromBe32(*answer)) +
            " bit/s");
        return false;
    }

    void log(const Base::String& text) {
        if (mpLogger) mpLogger->logString(LogId, "RFC 2217 " + mLink.getTransport().getName() + ": " + text, 0);
    }

    TelnetLink mLink;
    Log::Logger* mpLogger;
    unsigned int muReplyMs;
    // Under the link's lock: the last answer to each command and how many came.
    std::array<std::string, PurgeData + 1> maAnswer;
    std::array<unsigned int, PurgeData + 1> maAnswers{};
    unsigned char mcModemState = 0;
    bool mbDtr = false;
    bool mbRts = false;
};

Rfc2217Port::Rfc2217Port(std::unique_ptr<IO::Device> transport, Log::Logger* logger, unsigned int replyTimeoutMs)
    : mpControl(std::make_unique<Control>(std::move(transport), logger, replyTimeoutMs)) {}

Rfc2217Port::~Rfc2217Port() = default;

void Rfc2217Port::open() { mpControl->open(); }
void Rfc2217Port::close() { mpControl->mLink.close(); }
bool Rfc2217Port::isOpen() const { return mpControl->mLink.isOpen(); }
long Rfc2217Port::readAvailable(char* buffer, long length) { return mpControl->mLink.take(buffer, length); }
long Rfc2217Port::available() { return mpControl->mLink.available(); }
void Rfc2217Port::wakeUp() { mpControl->mLink.wakeUp(); }

long Rfc2217Port::write(const char* buffer, long length) {
    mpControl->mLink.sendData(buffer, length);
    return length;
}

bool Rfc2217Port::waitReadable(unsigned int ms) {
    TelnetLink& link = mpControl->mLink;
    return link.waitUntil([&link] { return link.pending() > 0; }, ms) || link.hasEnded();
}

void Rfc2217Port::setSpeed(unsigned int bitsPerSecond) { mpControl->setSpeed(bitsPerSecond); }
bool Rfc2217Port::setCustomSpeed(unsigned int bitsPerSecond) { return mpControl->setSpeed(bitsPerSecond); }

void Rfc2217Port::setFlow(EFlow flow) {
    static const char* const names[] = {"no flow control", "hardware flow control", "XON/XOFF flow control"};
    const unsigned char value = flow == FlowHardware   ? ControlFlowHardware
                                : flow == FlowSoftware ? ControlFlowXonXoff
                                                       : ControlFlowNone;
    mpControl->setByte(SetControl, value, names[flow]);
}

bool Rfc2217Port::setFormat(const Format& format) {
    static const unsigned char stopCodes[] = {1, 3, 2};  // one, one and a half, two
    const unsigned char parity = static_cast<unsigned char>(format.parity + 1);
    bool taken = mpControl->setByte(SetDataSize, static_cast<unsigned char>(format.dataBits),
                                    Base::String::fromUnsigned(format.dataBits) + " data bits");
    taken = mpControl->setByte(SetParity, parity, Base::String("parity ") + parityName(parity)) && taken;
    return mpControl->setByte(SetStopSize, stopCodes[format.stopBits], "the stop bits") && taken;
}

bool Rfc2217Port::hasModemLines() { return mpControl->hasControl(); }

void Rfc2217Port::setLine(ELine line, bool on) {
    if (line != LineDTR && line != LineRTS) return;
    const bool dtr = line == LineDTR;
    const unsigned char value = dtr ? (on ? ControlDtrOn : ControlDtrOff) : (on ? ControlRtsOn : ControlRtsOff);
    mpControl->setByte(SetControl, value, Base::String(dtr ? "DTR " : "RTS ") + (on ? "on" : "off"));
    auto guard = mpControl->mLink.lock();
    (dtr ? mpControl->mbDtr : mpControl->mbRts) = on;
}

unsigned int Rfc2217Port::getLines() {
    mpControl->mLink.available();  // takes in a notification that is queued
    auto guard = mpControl->mLink.lock();
    const unsigned char state = mpControl->mcModemState;
    unsigned int lines = (mpControl->mbDtr ? LineDTR : 0) | (mpControl->mbRts ? LineRTS : 0);
    if (state & ModemCd) lines |= LineDCD;
    if (state & ModemDsr) lines |= LineDSR;
    if (state & ModemCts) lines |= LineCTS;
    if (state & ModemRi) lines |= LineRI;
    return lines;
}

bool Rfc2217Port::setBreak(bool on) {
    if (!mpControl->hasControl()) return false;
    return mpControl->setByte(SetControl, on ? ControlBreakOn : ControlBreakOff,
                              Base::String("break ") + (on ? "on" : "off"));
}

void Rfc2217Port::discard() { purge(true, true); }

void Rfc2217Port::purge(bool input, bool output) {
    if (!input && !output) return;
    if (input) mpControl->mLink.discardData();
    const unsigned char value = input && output ? 3 : (input ? 1 : 2);
    mpControl->setByte(PurgeData, value, "the purge of the port's queues");
}

Base::String Rfc2217Port::getServerSignature() {
    std::optional<std::string> answer = mpControl->ask(Signature, "", "the request for its signature");
    return answer ? Base::String(*answer) : Base::String("");
}

}  // namespace Net
