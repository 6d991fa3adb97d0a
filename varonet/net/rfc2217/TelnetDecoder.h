#pragma once
// Net::TelnetDecoder: splits a Telnet byte stream (RFC 854) into data, option
// negotiations and subnegotiations, and escapes data for sending.
//
//   data ... IAC IAC ...              one data byte 255
//   IAC WILL|WONT|DO|DONT option      a negotiation
//   IAC SB option payload IAC SE      a subnegotiation (IAC IAC in it is 255)
//   IAC other                         a command (NOP, BRK, ...)
//
// A sequence cut by the end of one buffer goes on with the next. A
// subnegotiation longer than MaxPayload, or one that a command other than SE
// ends, is dropped (counted in getDropped): the bytes after the limit are
// data again, so a peer that never sends SE cannot swallow the stream.

#include <cstddef>
#include <string>

#include <varonet/base/Export.h>

namespace Net {

class VARONET_API TelnetDecoder {
public:
    /// The longest subnegotiation payload delivered (RFC 2217's longest is a signature text).
    static constexpr std::size_t MaxPayload = 255;

    /// What the decoder reports besides data, in stream order.
    class Listener {
    public:
        virtual ~Listener() = default;
        /// verb is WILL (251), WONT (252), DO (253) or DONT (254).
        virtual void onNegotiation(unsigned char verb, unsigned char option) = 0;
        /// A whole subnegotiation, payload without its IAC escapes.
        virtual void onSubnegotiation(unsigned char option, const unsigned char* payload, std::size_t length) = 0;
        /// A command other than a negotiation, SB or a doubled IAC (NOP, BRK, AYT, ...).
        virtual void onCommand(unsigned char) {}
    };

    /// Decodes length bytes of in: data bytes go to out (which may be in
    /// itself: data never outgrows what it came in), the rest to listener.
    /// Returns the number of data bytes.
    long decode(const char* in, long length, char* out, Listener& listener);
    /// Appends data to out with every 255 doubled.
    static void escape(const char* data, long length, std::string& out);
    /// Back to plain data, as at the start of a connection.
    void reset();
    /// Subnegotiations dropped as too long or cut off.
    unsigned long getDropped() const { return mulDropped; }

private:
    enum EState { Data, Command, Verb, SubOption, SubData, SubCommand };
    void drop();

    EState meState = Data;
    unsigned char mcVerb = 0;
    unsigned char mcOption = 0;
    unsigned char macPayload[MaxPayload];
    std::size_t muLength = 0;
    unsigned long mulDropped = 0;
};

}  // namespace Net
