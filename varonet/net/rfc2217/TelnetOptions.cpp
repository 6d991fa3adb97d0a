// Telnet option negotiation without loops (RFC 1143).
#include <varonet/net/rfc2217/detail/TelnetOptions.h>

#include <varonet/net/rfc2217/detail/TelnetCodes.h>

namespace Net {

using namespace Telnet;

TelnetOptions::TelnetOptions(std::initializer_list<unsigned char> mine, std::initializer_list<unsigned char> theirs) {
    for (unsigned char option : mine) mAcceptMine[option] = true;
    for (unsigned char option : theirs) mAcceptTheirs[option] = true;
}

// The peer asks for, or agrees to, the option on this side.
unsigned char TelnetOptions::enable(Side side, unsigned char option) {
    EState& state = side.states[option];
    switch (state) {
        case No:
            if (!side.accepted[option]) return side.refuse;
            state = Yes;
            return side.agree;
        case WantYes: state = Yes; return 0;  // the answer to our request
        case Yes: return 0;
    }
    return 0;
}

// The peer refuses, or ends, the option on this side.
unsigned char TelnetOptions::disable(Side side, unsigned char option) {
    EState& state = side.states[option];
    const bool wasOn = state == Yes;
    state = No;
    return wasOn ? side.refuse : 0;
}

unsigned char TelnetOptions::receive(unsigned char verb, unsigned char option) {
    Side mine{mMine, mAcceptMine, WILL, WONT};
    Side theirs{mTheirs, mAcceptTheirs, DO, DONT};
    switch (verb) {
        case WILL: return enable(theirs, option);
        case WONT: return disable(theirs, option);
        case DO: return enable(mine, option);
        case DONT: return disable(mine, option);
        default: return 0;
    }
}

unsigned char TelnetOptions::askMine(unsigned char option) {
    if (mMine[option] != No) return 0;
    mMine[option] = WantYes;
    return WILL;
}

unsigned char TelnetOptions::askTheirs(unsigned char option) {
    if (mTheirs[option] != No) return 0;
    mTheirs[option] = WantYes;
    return DO;
}

}  // namespace Net
