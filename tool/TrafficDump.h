#pragma once
// Tool::TrafficDump: the -x and -v dumps of cat, term and relay.

#include <cstddef>
#include <cstdio>

namespace Tool {

/// Shows relayed or exchanged bytes on standard error: "-x" as hex lines,
/// "-v" as text with escapes; each line starts with the direction mark and
/// the offset of its first byte in that direction. Safe from several threads.
class TrafficDump {
public:
    enum EMode { Off, Hex, Text };
    explicit TrafficDump(EMode mode, std::FILE* out = stderr) : meMode(mode), mpOut(out) {}
    static EMode modeOf(bool hex, bool text) { return hex ? Hex : text ? Text : Off; }
    bool isOn() const { return meMode != Off; }
    /// mark is '>' (towards the device or side B) or '<'.
    void show(char mark, const char* data, std::size_t length);

private:
    EMode meMode;
    std::FILE* mpOut;
    unsigned long long mOffsets[2] = {0, 0};
};

}  // namespace Tool
