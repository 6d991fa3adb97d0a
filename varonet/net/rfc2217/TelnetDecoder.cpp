// The Telnet stream decoder and data escaping.
#include <varonet/net/rfc2217/TelnetDecoder.h>

#include <cstring>

#include <varonet/net/rfc2217/detail/TelnetCodes.h>

namespace Net {

using namespace Telnet;

void TelnetDecoder::reset() { meState = Data; }

void TelnetDecoder::drop() {
    ++mulDropped;
    muLength = 0;
}

long TelnetDecoder::decode(const char* in, long length, char* out, Listener& listener) {
    long n = 0;
    long i = 0;
    while (i < length) {
        if (meState == Data) {
            // Runs of plain data move as a block: the common case costs a search for IAC.
            const void* iac = std::memchr(in + i, IAC, static_cast<std::size_t>(length - i));
            const long end = iac ? static_cast<const char*>(iac) - in : length;
            if (out + n != in + i) std::memmove(out + n, in + i, static_cast<std::size_t>(end - i));
            n += end - i;
            i = end;
            if (i < length) meState = Command, ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(in[i++]);
        switch (meState) {
            case Data: break;
            case Command:
                meState = Data;
                if (c == IAC) out[n++] = static_cast<char>(c);
                else if (c >= WILL) mcVerb = c, meState = Verb;
                else if (c == SB) meState = SubOption;
                else listener.onCommand(c);
                break;
            case Verb:
                meState = Data;
                listener.onNegotiation(mcVerb, c);
                break;
            case SubOption:
                mcOption = c;
                muLength = 0;
                meState = SubData;
                break;
            case SubData:
                if (c == IAC) {
                    meState = SubCommand;
                } else if (muLength == MaxPayload) {
                    drop();  // too long: what follows is data again
                    meState = Data;
                    out[n++] = static_cast<char>(c);
                } else {
                    macPayload[muLength++] = c;
                }
                break;
            case SubCommand:
                if (c == IAC && muLength < MaxPayload) {
                    macPayload[muLength++] = c;
                    meState = SubData;
                } else if (c == SE) {
                    meState = Data;
                    listener.onSubnegotiation(mcOption, macPayload, muLength);
                } else {
                    // IAC and anything but SE or a doubled IAC: the subnegotiation was cut
                    // off, and this byte is read again as the command after that IAC.
                    drop();
                    meState = Command;
                    --i;
                }
                break;
        }
    }
    return n;
}

void TelnetDecoder::escape(const char* data, long length, std::string& out) {
    const char* end = data + length;
    while (data < end) {
        const void* iac = std::memchr(data, IAC, static_cast<std::size_t>(end - data));
        const char* stop = iac ? static_cast<const char*>(iac) + 1 : end;
        out.append(data, stop);
        if (iac) out.push_back(static_cast<char>(IAC));
        data = stop;
    }
}

}  // namespace Net
