// The resolver's branches for sockets, local pipes and remote serial ports.
#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/net/rfc2217/Rfc2217Port.h>
#include <varonet/net/rfc2217/Rfc2217Server.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/TcpDevice.h>
#include <varonet/net/socket/TcpServer.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/UDLErrors.h>
#include <varonet/udl/UDLParser.h>
#include <varonet/udl/detail/LocatorText.h>
#include <varonet/udl/detail/SerialOptions.h>

namespace UDL {

namespace {
constexpr unsigned int kHighestPort = 65535;
constexpr unsigned int kReplyTimeoutMs = 1000;  // a remote port's wait for each answer of its server

[[noreturn]] void refuse(const Base::String& locator, const Base::String& why) {
    throw Base::Exception(ErrBadLocator, ".", __LINE__, why + " in locator '" + locator + "'");
}

// NoDelay=0 asks for Nagle's coalescing; without the option small writes leave at once.
bool readNoDelay(const UDLParser& options) { return !options.hasOption("NoDelay") || options.getBool("NoDelay"); }

// Family=IPv4 or Family=IPv6 keeps a device or server to one family; without it both are used.
Net::EAddressFamily readFamily(const UDLParser& options, const Base::String& locator) {
    const Base::String family = options.getString("Family");
    if (family.isNull()) return Net::AnyFamily;
    if (family == "IPv4") return Net::IPv4Only;
    if (family == "IPv6") return Net::IPv6Only;
    refuse(locator, "Family is " + family + ", not IPv4 or IPv6");
}

// The port after "@" (key "port"), else the option Port; a port outside 1..65535 is refused.
unsigned int readPort(const UDLParser& options, const Base::String& locator) {
    bool ok = false;
    unsigned int port = options.getString("port").asUnsigned(10, &ok);
    if (port == 0 || !ok) port = options.getString("Port").asUnsigned(10, &ok);
    if (!ok) refuse(locator, "no usable port");
    if (port == 0 || port > kHighestPort) refuse(locator, "port not in 1..65535");
    return port;
}
}  // namespace

// Two readings of one locator: "tcpip:host@port" first; when that gives no
// usable port, "tcpip:host:Port=p,ConnectTimeout=ms". ConnectTimeout is read
// only in the second form, so "tcpip:host@5000:ConnectTimeout=3000" connects
// without a time-out. A port outside 1..65535 is refused in either form. An
// IPv6 address is written in brackets: tcpip:[::1]@7000.
IO::Device* BaseDeviceResolver::resolveTcpIp(const Base::String& given, IO::DeviceManager* manager) {
    const Base::String locator = LocatorText::escapeBracketedHost(given);
    Base::String host;
    unsigned int port = 0;
    unsigned int connectTimeout = 0;
    {
        UDLParser first(locator, "port", "");
        host = LocatorText::hostWithoutBrackets(first.getTarget());
        bool ok = false;
        port = first.getString("port").asUnsigned(10, &ok);
        if (port == 0 || !ok) {
            UDLParser second(locator, "");
            port = second.getString("Port").asUnsigned(10, &ok);
            if (!ok) refuse(given, "no usable port");
            connectTimeout = second.getUnsigned("ConnectTimeout");
        }
        if (port == 0 || port > kHighestPort) refuse(given, "port not in 1..65535");
    }
    const UDLParser options(locator, "port");
    const Net::EAddressFamily family = readFamily(options, given);
    std::unique_ptr<IO::Device> owned = std::make_unique<Net::TcpDevice>(host, port, 0u);
    IO::Device* device = handOver(owned, manager);
    auto* socket = dynamic_cast<Net::BsdSocketDevice*>(device);
    if (!socket)
        throw Base::Exception(ErrBadLocator, ".", __LINE__, "the device manager returned another kind of device");
    socket->setConnectTimeout(connectTimeout);
    if (auto* tcp = dynamic_cast<Net::TcpDevice*>(socket)) {
        tcp->setNoDelay(readNoDelay(options));
        tcp->setFamily(family);
    }
    owned.release();
    return device;
}

// rfc2217:host@port[:options] or rfc2217:host:Port=port[,options]: a serial
// port behind an RFC 2217 server. The serial options are those of serial:
// (baudrate, BitRate, FlowControl, DataBits, Parity, StopBits: what is not
// given stays as the server has it), with the connection's ConnectTimeout,
// Family and NoDelay, and ReplyTimeout (ms) for each answer of the server.
IO::Device* BaseDeviceResolver::resolveRemoteSerial(const Base::String& given, Log::Logger* logger,
                                                    IO::DeviceManager* manager) {
    const UDLParser options(LocatorText::escapeBracketedHost(given), "port");
    const Base::String host = LocatorText::hostWithoutBrackets(options.getTarget());
    const unsigned int port = readPort(options, given);
    SerialOptions settings;
    Base::String why;
    if (!settings.read(options, why)) {
        setReason(why);
        return nullptr;
    }
    auto tcp = std::make_unique<Net::TcpDevice>(host, port, options.getUnsigned("ConnectTimeout"));
    tcp->setFamily(readFamily(options, given));
    tcp->setNoDelay(readNoDelay(options));
    const unsigned int replyMs =
        options.hasOption("ReplyTimeout") ? options.getUnsigned("ReplyTimeout") : kReplyTimeoutMs;
    const Base::String name = tcp->getName();
    std::unique_ptr<IO::Device> owned =
        std::make_unique<IO::SerialDevice>(name, std::make_unique<Net::Rfc2217Port>(std::move(tcp), logger, replyMs));
    auto* serial = handedOver<IO::SerialDevice>(handOver(owned, manager));
    settings.applyTo(*serial);  // sent when it opens
    owned.release();
    return serial;
}

IO::Device* BaseDeviceResolver::resolveDomain(const Base::String& locator, IO::DeviceManager* manager) {
    UDLParser parser(locator, "", "");
    std::unique_ptr<IO::Device> owned = std::make_unique<Net::DomainDevice>(parser.getTarget());
    IO::Device* device = handOver(owned, manager);
    owned.release();
    return device;
}

// server:tcpip:PORT or server:tcpip:Port=PORT (a PORT of 0 only in the second
// form: any free port), with Bind=ADDRESS (one address to listen on) and
// Family=IPv4|IPv6 (one family; both by default); server:rfc2217: the same
// with RFC 2217 spoken to each caller; and server:domain:NAME with the whole
// rest as the name. Null when no port can be read; a port above 65535 is refused.
IO::DeviceServer* BaseDeviceResolver::resolveSocketServer(const Base::String& locator, IO::DeviceManager* manager) {
    UDLParser parser(locator, "", "UnnamedOption");
    std::unique_ptr<IO::DeviceServer> server;
    if (parser.getTarget() == "tcpip" || parser.getTarget() == "rfc2217") {
        bool ok = false;
        unsigned int port = parser.getString("UnnamedOption").asUnsigned(10, &ok);
        UDLParser options(locator, "");
        if (port == 0 || !ok) {
            port = options.getString("Port").asUnsigned(10, &ok);
            if (!ok) return nullptr;
        }
        if (port > kHighestPort) refuse(locator, "port not in 0..65535");
        const Base::String bind = options.hasOption("Bind") ? options.getString("Bind") : Base::String("");
        const Net::EAddressFamily family = readFamily(options, locator);
        std::unique_ptr<Net::TcpServer> tcp;
        if (parser.getTarget() == "rfc2217") tcp = std::make_unique<Net::Rfc2217Server>(port, bind, family);
        else tcp = std::make_unique<Net::TcpServer>(port, bind, family);
        tcp->setNoDelay(readNoDelay(options));
        server = std::move(tcp);
    } else {
        Base::String name = parser.getString("UnnamedOption");
        server = std::make_unique<Net::DomainServer>(name.isNull() ? Base::String("") : name);
    }
    return handOverServer(server, manager);
}

}  // namespace UDL
