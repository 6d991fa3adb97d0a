// The AT engine's handling of what a modem answers, on a line whose input is
// the fuzzer's bytes (what the engine writes is dropped). First byte: bits 0-1
// the call, repeated until the input is used up: the reply to a command, the
// reply to a dial, one reply line, or a wait for a text (bits 3-4 pick it);
// bit 2 takes any line as the final one.
// Checked: the only failures are the documented ones; after a final line with
// "CONNECT" the modem is connected and out of command mode; a reply line is
// only returned without its CR LF when no byte is left; a text reported
// found was received.
#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/net/modem/Modem.h>
#include <varonet/net/modem/ModemErrors.h>

#include "FuzzSupport.h"

namespace {

// The engine's reading steps, open to the target.
class Engine : public Net::Modem {
public:
    Engine(Net::StatefulDevice* line, Log::Logger* logger) : Net::Modem(line, logger, false) {}
    using Net::Modem::receiveCommandResponse;
    using Net::Modem::receiveModemResponse;
    using Net::Modem::waitForAnswer;
};

const char* const kAwaited[4] = {"RING", "DATEX-P", "COM", "OK\r\n"};

bool documented(unsigned int code) {
    switch (code) {
        case Net::ErrModemNoReply:
        case Net::ErrModemNoCarrier:
        case Net::ErrModemNoDialtone:
        case Net::ErrModemBusy:
        case Net::ErrModemBlacklisted:
        case Net::ErrModemDialFailed: return true;
        default: return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    Fuzz::QuietLogger logger;
    auto* input = new Fuzz::FuzzLine(data + 1, size - 1, 8);
    Engine engine(new Net::StatefulDevice(input), &logger);
    const bool dialing = (mode & 3) == 1;
    for (int call = 0; call < 64 && input->size() > 0; ++call) {
        try {
            if ((mode & 3) < 2) {
                Base::String line;
                engine.receiveCommandResponse(
                    {.replyTime = 5, .dialing = dialing, .acceptAny = (mode & 4) != 0, .response = &line});
                if (line.contains("CONNECT") && (!engine.isConnected() || engine.isCommandMode()))
                    Fuzz::fail("a final CONNECT left the modem unconnected");
            } else if ((mode & 3) == 2) {
                const Base::String line = engine.receiveModemResponse(5);
                if (!line.endsWith("\r\n") && input->size() > 0) Fuzz::fail("a part line was returned early");
            } else {
                bool found = false;
                const Base::String text = engine.waitForAnswer(kAwaited[(mode >> 3) & 3], 5, &found);
                if (found && !text.contains(kAwaited[(mode >> 3) & 3])) Fuzz::fail("found a text that did not come");
            }
        } catch (const Fuzz::EndOfInput&) {
            break;
        } catch (const Base::TimeoutException&) {
            if (!dialing) Fuzz::fail("a time-out outside a dial");
        } catch (const Base::Exception& e) {
            if (!documented(e.getErrorCode())) Fuzz::fail("a failure with an undocumented code");
        }
    }
    return 0;
}
