// The ZMODEM header and subpacket decoders over a memory device holding the
// fuzzer's bytes: headers are looked for one after another, and after a
// header that carries data its subpackets are read until one ends the frame.
// First byte: bit 0 escape-all (bare control characters are line noise).
// Checked: every header decoded encodes and decodes again to the same format,
// type and data; every subpacket decoded (up to 1 KiB) does the same with its
// frame end; the data buffer grows with the bytes that came, not beyond.
#include <cstring>

#include <varonet/zmodem/CZModemCore.h>

#include "FuzzSupport.h"

namespace {

using Errors = ZModem::ZModemErrors;
// The framing operations, which only the sessions use, opened for the fuzzer.
struct Core : ZModem::CZModemCore {
    using CZModemCore::CZModemCore;
    using CZModemCore::getData, CZModemCore::getDataBuffer, CZModemCore::getHeaderData, CZModemCore::getHeaderFormat,
        CZModemCore::getHeaderType, CZModemCore::getZMHeader, CZModemCore::sendData32, CZModemCore::sendHeader,
        CZModemCore::setHeader, CZModemCore::setReceivedFormat;
};

void checkHeader(const Core& received) {
    Base::MemoryDevice wire;
    Core writer(&wire, false);
    writer.setHeader(received.getHeaderFormat(), received.getHeaderType(), received.getHeaderData());
    if (writer.sendHeader() != 0) Fuzz::fail("a decoded header could not be sent");
    wire.seek(0);
    Core reader(&wire, false);
    if (reader.getZMHeader(1) != 0 || reader.getHeaderFormat() != received.getHeaderFormat() ||
        reader.getHeaderType() != received.getHeaderType() ||
        std::memcmp(reader.getHeaderData(), received.getHeaderData(), 4) != 0)
        Fuzz::fail("a header did not decode the same from its own encoding");
}

void checkSubpacket(const Base::ByteArray& data, unsigned char frameEnd) {
    if (data.size() > 1024) return;  // longer ones do not fit one encoding step
    Base::MemoryDevice wire;
    Core writer(&wire, false);
    if (writer.sendData32(data.data(), static_cast<int>(data.size()), frameEnd) != 0)
        Fuzz::fail("a decoded subpacket could not be sent");
    wire.seek(0);
    Core reader(&wire, false);
    reader.setReceivedFormat(Core::ZBIN32);
    if (reader.getData() != Errors::ResultFrameEnd + frameEnd || !(reader.getDataBuffer() == data))
        Fuzz::fail("a subpacket did not decode the same from its own encoding");
}

bool carriesData(int type) {
    return type == Core::ZDATA || type == Core::ZFILE || type == Core::ZSINIT || type == Core::ZCOMMAND;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    Fuzz::FuzzLine line(data + 1, size - 1);
    Core core(&line, false);
    core.setEscapeAll(data[0] & 1);
    for (int round = 0; round < 1000 && core.getSize() > 0; ++round) {
        if (core.getZMHeader(1) != 0) continue;
        checkHeader(core);
        if (!carriesData(core.getHeaderType())) continue;
        for (int r = 0; r < 1000; ++r) {
            core.getDataBuffer().clear();
            const int result = core.getData();
            if (core.getDataBuffer().vector().capacity() > 2 * size + 64 * 1024)
                Fuzz::fail("the data buffer grew beyond the bytes that came");
            if (result < Errors::ResultFrameEnd + Core::ZCRCE || result > Errors::ResultFrameEnd + Core::ZCRCW) break;
            const auto frameEnd = static_cast<unsigned char>(result - Errors::ResultFrameEnd);
            checkSubpacket(core.getDataBuffer(), frameEnd);
            if (frameEnd == Core::ZCRCE || frameEnd == Core::ZCRCW) break;
        }
    }
    return 0;
}
