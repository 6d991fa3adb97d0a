// The Telnet decoder, and the RFC 2217 client on a line whose input is the
// fuzzer's bytes (what it writes is dropped). First byte: bits 0-5 where the
// rest is cut into two buffers for the decoder (a sequence split between two
// reads); bit 6 also runs a client session on the rest: open, every setting,
// the modem lines and a read of all the data; bit 7 picks the other format.
// Checked: the decoder never gives more data than it was given, and what
// escape makes of that data decodes back to it with nothing else reported;
// the client fails only with the library's exceptions and never reads more
// data than the line held.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include <varonet/base/Exception.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/net/rfc2217/Rfc2217Port.h>
#include <varonet/net/rfc2217/TelnetDecoder.h>

#include "FuzzSupport.h"

namespace {

struct Counter : Net::TelnetDecoder::Listener {
    int events = 0;
    void onNegotiation(unsigned char, unsigned char) override { ++events; }
    void onSubnegotiation(unsigned char, const unsigned char*, std::size_t length) override {
        if (length > Net::TelnetDecoder::MaxPayload) Fuzz::fail("a payload longer than the bound");
        ++events;
    }
    void onCommand(unsigned char) override { ++events; }
};

void decode(const std::uint8_t* data, std::size_t size, std::size_t cut) {
    std::string in(reinterpret_cast<const char*>(data), size);
    Net::TelnetDecoder decoder;
    Counter counter;
    const long first = decoder.decode(in.data(), static_cast<long>(cut), in.data(), counter);
    const long second = decoder.decode(in.data() + cut, static_cast<long>(size - cut), in.data() + first, counter);
    if (first < 0 || second < 0 || static_cast<std::size_t>(first + second) > size) Fuzz::fail("more data than input");
    const std::string out = in.substr(0, static_cast<std::size_t>(first + second));
    std::string escaped;
    Net::TelnetDecoder::escape(out.data(), static_cast<long>(out.size()), escaped);
    Net::TelnetDecoder again;
    Counter none;
    const long back = again.decode(escaped.data(), static_cast<long>(escaped.size()), escaped.data(), none);
    if (none.events != 0 || escaped.substr(0, static_cast<std::size_t>(back)) != out)
        Fuzz::fail("escaped data does not decode back to itself");
}

void session(const std::uint8_t* data, std::size_t size, bool otherFormat) {
    // A reply time-out of 0: every answer is looked for once, in what has come by then.
    auto port = std::make_unique<Net::Rfc2217Port>(std::make_unique<Fuzz::FuzzLine>(data, size, 64), nullptr, 0);
    IO::SerialDevice device("fuzz", std::move(port));
    long total = 0;
    try {
        device.setBaudrate(IO::SerialDevice::Baud115200);
        device.open();
        device.setFormat({otherFormat ? 5u : 7u, otherFormat ? IO::SerialPort::ParityMark : IO::SerialPort::ParityEven,
                          otherFormat ? IO::SerialPort::StopOneAndHalf : IO::SerialPort::StopTwo});
        device.setFlowControl(otherFormat ? IO::SerialDevice::FlowSoftware : IO::SerialDevice::FlowHardware);
        device.setBitRate(250000);
        device.toggleDTR(false);
        device.setBreak(true);
        device.purge(true, false);
        device.readDCD();
        char buffer[512];
        for (int i = 0; i < 4096 && device.waitForData(0); ++i) {
            const long n = device.read(buffer, sizeof buffer);
            if (n <= 0) break;
            total += n;
        }
    } catch (const Base::Exception&) {
    } catch (const Fuzz::EndOfInput&) {}
    if (static_cast<std::size_t>(total) > size) Fuzz::fail("the client read more data than the line held");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    ++data, --size;
    decode(data, size, std::min<std::size_t>(mode & 0x3F, size));
    if (mode & 0x40) session(data, size, (mode & 0x80) != 0);
    return 0;
}
