// Identification of the device on a modem line, and the command fragments of
// the known chips.
//
//   host                                   modem
//     "AT" CR (wake-up, reply dropped) ------->
//     "ATE0" CR ------------------------------>   echo off
//     <------------------------------ "OK"
//     "ATI0" CR ------------------------------>
//     <------------------------------ first line: product text
//     "ATI3" CR ------------------------------>
//     <------------------------------ first line: chip / firmware text
//
// ISDN rows are tried before analog rows, row 1 before row 2; a row matches
// when both reply lines contain its texts (case-sensitive, CR LF included).

#include <varonet/base/Exception.h>
#include <varonet/net/modem/Modem.h>

namespace Net {

namespace {
// The wake-up "AT" is given this long for a reply (which is then dropped).
constexpr unsigned int kWakeUpReplyMs = 1000;
// "I0" and "I3" are given this long for their first reply line.
constexpr unsigned int kIdentifyReplyMs = 3000;
}  // namespace

const char* const Modem::mpIsdnAt0Strings[3] = {"", "TA+", "AL5068S"};
const char* const Modem::mpIsdnAt3Strings[3] = {"", "V", "V 1.33"};
const char* const Modem::mpIsdnInitStrings[3] = {"", "%B0 **idle=255", "%B0 **idle=255"};
const char* const Modem::mpIsdnTeiStrings[3] = {"", " **tei=", " **tei="};
const char* const Modem::mpIsdnMsnStrings[3] = {"", " #Z=", " #Z="};
const char* const Modem::mpIsdnProtocolStrings[3][5] = {
    {"", "", "", "", nullptr},
    {"B10", "B20", "B21", "B31", nullptr},
    {"B10", "B20", "B21", "B31", nullptr},
};

const char* const Modem::mpAnalogAt0Strings[3] = {"", "56000", "Agere OCM V.92"};
const char* const Modem::mpAnalogAt3Strings[3] = {"", "CX81802", "Agere OCM V.92"};
const char* const Modem::mpAnalogInitStrings[3] = {"", "s95=61", "s95=61"};
const char* const Modem::mpAnalogIgnoreBlacklistStrings[3] = {"", "%TCB", ""};
const char* const Modem::mpAnalogProtocolStrings[3][7] = {
    {"", "", "", "", "", "", ""},
    {"+ms=V92,1", "+ms=V22B,0", "+ms=V32,0", "+ms=V32B,0", "+ms=V34,0", "+ms=V90,0", "+ms=V92,0"},
    {"+ms=V92,1", "+ms=V22B,0", "+ms=V32,0", "+ms=V32B,0", "+ms=V34,0", "+ms=V90,0", "+ms=V92,0"},
};

EModemtypes Modem::checkModemType() {
    StatefulDevice* line = getDevice();
    EModemtypes stored = line->getModemType();
    if (stored == ModemUnchecked && !isPreconfigured()) {
        EModemtypes modemType = ModemNotResponding;
        unsigned int interfaceType = 0;
        checkModemTypeInternal(modemType, interfaceType);
        line->setModemType(modemType);
        line->setInterfaceType(interfaceType);
        mSettings.muInterfaceType = interfaceType;
        return modemType;
    }
    mSettings.muInterfaceType = line->getInterfaceType();
    return stored;
}

void Modem::checkModemTypeInternal(EModemtypes& modemType, unsigned int& interfaceType) {
    StatefulDevice* line = getDevice();
    Base::String reply0(""), reply3("");
    bool opened = false;
    if (!line->isOpen()) {
        line->open();
        opened = true;
    }
    try {
        lineHasModemLines();  // learnt now, while the port is open, for the set-up that follows
        // Wake the modem up; whatever it says (or does not say) is of no interest.
        clearInput();
        logSent("AT\r");
        sendText("AT\r");
        try {
            receiveModemResponse(kWakeUpReplyMs);
        } catch (const Base::Exception&) {}
        try {
            sendCommand("E0", {.attempts = 1});
            sendCommand("I0", {.replyTime = kIdentifyReplyMs, .acceptAny = true, .response = &reply0});
            sendCommand("I3", {.replyTime = kIdentifyReplyMs, .acceptAny = true, .response = &reply3});
            bool matched = false;
            for (unsigned int row = 1; row <= 2 && !matched; ++row) {
                if (reply0.contains(mpIsdnAt0Strings[row]) && reply3.contains(mpIsdnAt3Strings[row])) {
                    modemType = ModemIsdn;
                    interfaceType = row;
                    matched = true;
                }
            }
            for (unsigned int row = 1; row <= 2 && !matched; ++row) {
                if (reply0.contains(mpAnalogAt0Strings[row]) && reply3.contains(mpAnalogAt3Strings[row])) {
                    modemType = ModemAnalog;
                    interfaceType = row;
                    matched = true;
                }
            }
            if (!matched) modemType = ModemUnknown;
        } catch (const Base::Exception& e) {
            logFailure(e.getErrorCode());
            modemType = ModemNotResponding;
        }
    } catch (...) {
        if (opened) line->close();
        throw;
    }
    if (opened) line->close();
}

}  // namespace Net
