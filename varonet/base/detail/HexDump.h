#pragma once
// Base::HexDump: a printable dump of bytes, 16 per line:
//   0000  41 42 43 0D 0A                                   ABC..

#include <varonet/base/ByteArray.h>

namespace Base {

class HexDump {
public:
    /// One line per 16 bytes, each ending in "\n"; the empty text for no bytes.
    static String dump(const ByteArray& bytes);
    static String dump(const char* data, std::size_t length);
};

}  // namespace Base
