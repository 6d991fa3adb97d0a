// Built with nothing but `pkg-config --cflags --libs varonet`.
#include <varonet/base/Exception.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/UDLParser.h>

#include <cstdio>

int main() {
    UDL::UDLParser parser("tcpip:host@5000:ConnectTimeout=3000", "Port");
    std::printf("pkg-config consumer parsed %s %s port %s\n", parser.getProtocol().c_str(), parser.getTarget().c_str(),
                parser.getString("Port").c_str());
    try {
        UDL::UDLParser bad("no protocol word", "Port");
    } catch (const Base::Exception& e) {
        return e.getErrorCode() == UDL::ErrNoProtocol && parser.getString("ConnectTimeout") == "3000" ? 0 : 1;
    }
    return 1;
}
