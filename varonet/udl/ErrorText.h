#pragma once
// UDL::ErrorText: what a code of the library means, in words.
//
// One table holds every code the library raises: the codes of its
// exceptions (the relay, devices, modems, sockets and pipes, the locator
// parser and resolvers, T=1, the base layer) and the results of the ZMODEM
// sessions (0x20000004 to 0x20000011 and -1). Operating-system failures carry
// an errno value and are described by the system's own text. CAPI results
// share number ranges with other codes and have a table of their own.
//
//   catch (const Base::Exception& e) {
//       std::cerr << "open failed: " << UDL::ErrorText::describe(e).str() << "\n";
//   }
//   // open failed: the device is not open (code 4097 = 0x1001)

#include <varonet/base/Exception.h>
#include <varonet/base/Export.h>
#include <varonet/base/String.h>

namespace UDL {

class VARONET_API ErrorText {
public:
    /// The meaning of a library exception code or a ZMODEM session result
    /// (a ZMODEM session's 0 means success; code 0 of an exception is the
    /// relay's). A code outside the table gives "unknown code N".
    static Base::String describe(long long code);
    /// The system's text for an errno value.
    static Base::String describeSystemError(int error);
    /// The meaning of a result of the CAPI wrapper (0 is success).
    static Base::String describeCapiResult(int result);
    /// One line for a caught exception: its own text, the code and its
    /// meaning, e.g. "host not found: example.invalid (code 1537 = 0x601: the
    /// host name resolves to no IPv4 address)", or for a system error
    /// "open /dev/ttyUSB7: No such file or directory (errno 2)".
    static Base::String describe(const Base::Exception& exception);
    /// True when the table knows the code.
    static bool isKnown(long long code);
};

}  // namespace UDL
