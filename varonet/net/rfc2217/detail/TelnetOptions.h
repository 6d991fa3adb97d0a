#pragma once
// Net::TelnetOptions: which Telnet options are on at each end, negotiated so
// that no answer is ever sent twice (the "Q method" of RFC 1143, without its
// queue: a request is not repeated while one is pending).
//
//   us                 them
//   WILL x  ------------->       ask to use x ourselves
//           <-------------  DO x    agreed (DONT x: refused)
//           <-------------  WILL y  they offer y
//   DO y    ------------->       agreed when y is one we accept of them

#include <array>
#include <initializer_list>

namespace Net {

class TelnetOptions {
public:
    /// mine: options we agree to use when asked (DO -> WILL); theirs: options
    /// we agree the peer uses (WILL -> DO). Any other request is refused.
    TelnetOptions(std::initializer_list<unsigned char> mine, std::initializer_list<unsigned char> theirs);

    /// The peer's WILL, WONT, DO or DONT: the verb to answer with, 0 for none.
    unsigned char receive(unsigned char verb, unsigned char option);
    /// Asks to use option ourselves (WILL) or that the peer does (DO): the verb
    /// to send, 0 when it is on or asked for already.
    unsigned char askMine(unsigned char option);
    unsigned char askTheirs(unsigned char option);

    bool isMine(unsigned char option) const { return mMine[option] == Yes; }
    bool isTheirs(unsigned char option) const { return mTheirs[option] == Yes; }
    /// True while a request of ours for option has no answer yet.
    bool isPendingMine(unsigned char option) const { return mMine[option] == WantYes; }

private:
    enum EState : unsigned char { No, Yes, WantYes };
    struct Side {
        std::array<EState, 256>& states;
        const std::array<bool, 256>& accepted;
        unsigned char agree, refuse;  // the verbs this side answers with
    };
    static unsigned char enable(Side side, unsigned char option);
    static unsigned char disable(Side side, unsigned char option);

    std::array<EState, 256> mMine{};
    std::array<EState, 256> mTheirs{};
    std::array<bool, 256> mAcceptMine{};
    std::array<bool, 256> mAcceptTheirs{};
};

}  // namespace Net
