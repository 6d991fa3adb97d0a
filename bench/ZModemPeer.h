#pragma once
// Our ZMODEM end as a child process of the ZMODEM benches: one session on
// standard input and output, in the current folder.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <varonet/zmodem/CZModem.h>
#include "support/DescriptorDevice.h"

namespace Bench {

/// Sends name (sending) or receives one session; 0 when it ended well. With a
/// window both ends work as the varonet tool's send and receive do; without,
/// as the library's defaults have it.
inline int runOurZModemEnd(bool sending, const char* name, int window) {
    TestSupport::DescriptorDevice device(0, false);
    ZModem::CZModem session(&device);
    session.set_path(".");
    if (window > 0)
        session.setSettings({.window = window,
                             .offer = ZModem::SessionSettings::Offer::Full,
                             .keepTimeAndMode = true,
                             .greetAtOnce = true});
    int r = sending ? session.sendez(name, 0, 0) : session.rec_z(1);
    if (r) std::fprintf(stderr, "result 0x%x\n", static_cast<unsigned>(r));
    return r == 0 ? 0 : 1;
}

/// "a,b,c" as its parts.
inline std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
    return parts;
}

}  // namespace Bench
