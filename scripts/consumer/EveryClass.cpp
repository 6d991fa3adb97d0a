// Builds and destroys every class of the installed headers through each of its public constructors, from
// the installed tree alone. CheckEveryClass.py makes sure that no such class or constructor is left out.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include <varonet/base/ByteArray.h>
#include <varonet/base/CombinedDevice.h>
#include <varonet/base/Exception.h>
#include <varonet/base/FastSerialDevice.h>
#include <varonet/base/FifoDevice.h>
#include <varonet/base/File.h>
#include <varonet/base/IOException.h>
#include <varonet/base/Lockable.h>
#include <varonet/base/Logger.h>
#include <varonet/base/MemoryDevice.h>
#include <varonet/base/Mutex.h>
#include <varonet/base/PseudoTerminal.h>
#include <varonet/base/Reference.h>
#include <varonet/base/SerialDevice.h>
#include <varonet/base/StopWatch.h>
#include <varonet/base/String.h>
#include <varonet/base/Thread.h>
#include <varonet/base/Translator.h>
#include <varonet/base/WakeSignal.h>
#include <varonet/base/WrapperDevice.h>
#include <varonet/net/capi/CapiBackend.h>
#include <varonet/net/modem/AnalogModemServer.h>
#include <varonet/net/modem/CapiDevice.h>
#include <varonet/net/modem/IsdnModemServer.h>
#include <varonet/net/rfc2217/Rfc2217Port.h>
#include <varonet/net/rfc2217/Rfc2217Server.h>
#include <varonet/net/rfc2217/TelnetDecoder.h>
#include <varonet/net/socket/BsdSocketException.h>
#include <varonet/net/socket/DomainAddress.h>
#include <varonet/net/socket/DomainDevice.h>
#include <varonet/net/socket/DomainServer.h>
#include <varonet/net/socket/TcpDevice.h>
#include <varonet/net/socket/TcpIp4Device.h>
#include <varonet/net/socket/TcpIp4Server.h>
#include <varonet/net/socket/TcpServer.h>
#include <varonet/sim/CapiExchange.h>
#include <varonet/sim/ModemSimulator.h>
#include <varonet/sim/VirtualSerialPair.h>
#include <varonet/t1/EDCException.h>
#include <varonet/t1/InformationBlock.h>
#include <varonet/t1/Protocol.h>
#include <varonet/t1/ReceiveReadyBlock.h>
#include <varonet/t1/SupervisoryBlock.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/ErrorText.h>
#include <varonet/udl/ModemParameters.h>
#include <varonet/udl/Proxy.h>
#include <varonet/udl/SerialPortLink.h>
#include <varonet/udl/SerialServer.h>
#include <varonet/udl/ServerDevice.h>
#include <varonet/udl/SharedDevice.h>
#include <varonet/udl/UDLParser.h>
#include <varonet/udl/UDLPrinter.h>
#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/SessionSettings.h>
#include <varonet/zmodem/TransferObserver.h>
#include <varonet/zmodem/ZModemDebugSink.h>
#include <varonet/zmodem/ZModemDevice.h>
#include <varonet/zmodem/ZModemErrors.h>

namespace {

struct Idle : Thread::Runnable {
    void run() override {}
};

// A modem line that goes nowhere: a FIFO under a line record.
Net::StatefulDevice* line() { return new Net::StatefulDevice(new Base::FifoDevice(0), true); }

void base() {
    const char text[] = "text";
    const std::string standard = "text";
    { Base::String s; }
    { Base::String s(text); }
    { Base::String s(text, 2); }
    { Base::String s(standard); }
    { Base::String s(std::string("text")); }
    { Base::String s{std::string_view(standard)}; }
    { Base::String s(std::size_t(3), 'x'); }
    { Base::ByteArray b; }
    { Base::ByteArray b(text, 2); }
    { Base::ByteArray b(reinterpret_cast<const unsigned char*>(text), 2); }
    { Base::ByteArray b(std::size_t(3), 0); }
    { Base::ByteArray b{1, 2}; }
    { Base::Lockable lockable; }
    { [[maybe_unused]] Base::Reference reference; }
    { Base::Exception e(1, ".", 1, "text"); }
    { Base::TimeoutException e(".", 1, "text"); }
    { IO::SystemException e(5, "text"); }
    { IO::WouldBlockException e(11, "text"); }
    { IO::Exception e(1, ".", 1, "text"); }
    { IO::SerialDevice port(1, IO::SerialDevice::Baud9600); }
    { IO::SerialDevice port(Base::String("ttyS0"), IO::SerialDevice::Baud9600); }
    {
        IO::SerialDevice port("rfc2217",
                              std::make_unique<Net::Rfc2217Port>(std::make_unique<Base::FifoDevice>(0), nullptr));
    }
    { [[maybe_unused]] IO::SerialPort::Format format; }
    { IO::FastSerialDevice port(2, IO::SerialDevice::Baud115200); }
    { IO::FastSerialDevice port(Base::String("ttyS1"), IO::SerialDevice::Baud115200); }
    { Base::FifoDevice fifo(0); }
    { IO::CombinedDevice both(new Base::FifoDevice(0), new Base::FifoDevice(0), true); }
    { IO::WrapperDevice wrapper(new Base::FifoDevice(0), true); }
    { IO::File file("/nonexistent/varonet-consumer", IO::File::ReadOnly); }
    { Base::MemoryDevice memory; }
    { Base::MemoryDevice memory(text, 4); }
    {
        Base::ByteArray buffer;
        Base::MemoryDevice memory(&buffer);
    }
    { IO::PseudoTerminal pty; }
    { OS::StopWatch watch; }
    { Thread::Thread thread; }
    {
        Idle idle;
        Thread::Thread thread(&idle);
    }
    {
        Thread::Mutex mutex;
        Thread::Synchronized held(mutex);
    }
    { Thread::WakeSignal wake; }
    {
        std::ostringstream out;
        Log::StreamLogger logger(out);
    }
    { Base::TableTranslator translator; }
}

void net() {
    { Net::StatefulDevice stateful(new Base::FifoDevice(0), true); }
    { Net::Modem modem(line(), nullptr, false, Net::Modem::OwnsLine); }
    { Net::AnalogModem modem(line(), nullptr, Net::Modem::OwnsLine); }
    { Net::IsdnModem modem(line(), nullptr, Net::Modem::OwnsLine); }
    { Net::AnalogModemServer server(new Net::AnalogModem(line(), nullptr), true); }
    { Net::IsdnModemServer server(new Net::IsdnModem(line(), nullptr), true); }
    { [[maybe_unused]] Net::Modem::CommandOptions options{.replyTime = 3000, .attempts = 1}; }
    { Net::Modem::Settings settings; }
    { Net::CapiDevice device; }
    { Net::CapiDevice device(std::make_shared<Sim::CapiExchange>()); }
    { Capi::CallRequest request; }
    { Capi::CapiEvent event; }
    { [[maybe_unused]] Net::BsdSocketType type(2, 1, 0); }
    { Net::BsdSocketException e(1537, ".", 1); }
    { Net::BsdSocketException e("text", 1537, ".", 1); }
    { [[maybe_unused]] Net::DomainAddress address; }
    { Net::DomainDevice device("varonet-consumer"); }
    { Net::DomainServer server("varonet-consumer-" + std::to_string(::getpid())); }
    { Net::TcpIp4Device device("127.0.0.1", 7, 1000); }
    { Net::TcpIp4Device device(::socket(AF_INET, SOCK_STREAM, 0), 1000); }
    { Net::TcpIp4Server server(0); }
    { Net::TcpDevice device("127.0.0.1", 7, 1000); }
    { Net::TcpServer server(0, "127.0.0.1", Net::AnyFamily); }
    { Net::Rfc2217Server server(0, "127.0.0.1", Net::AnyFamily); }
    { Net::Rfc2217Port port(std::make_unique<Base::FifoDevice>(0), nullptr); }
    { Net::TelnetDecoder decoder; }
}

void others() {
    Base::FifoDevice fifo(0);
    { Sim::ModemSimulator simulator(std::make_unique<Base::FifoDevice>(0)); }
    { Sim::CapiExchange exchange; }
    { Sim::CapiExchange::CallRecord record{}; }
    { [[maybe_unused]] Sim::ModemSimulator::Dial dial{.outcome = Sim::ModemSimulator::Busy, .delayMs = 100}; }
    { Sim::ModemSimulator::Network network{.confirms = false}; }
    { [[maybe_unused]] Sim::VirtualSerialPair pair; }
    { [[maybe_unused]] T1::NodeAddress address; }
    { T1::NodeAddress address(0x12); }
    { T1::EDCException e(Base::ByteArray(), ".", 1); }
    { T1::Frame frame(T1::NodeAddress(0x12), Base::ByteArray()); }
    {
        const Base::ByteArray data;
        T1::Frame frame(T1::NodeAddress(0x12), data);
    }
    { T1::InformationBlock block(T1::NodeAddress(0x12), Base::ByteArray(), false, true, 254); }
    { T1::InformationBlock block(T1::NodeAddress(0x12), Base::ByteArray(), {.sequence = true}); }
    { T1::InformationBlock block(T1::NodeAddress(0x12), std::uint8_t(0), Base::ByteArray()); }
    { T1::ReceiveReadyBlock block(T1::NodeAddress(0x12), false, T1::ReceiveReadyBlock::NoError); }
    { T1::ReceiveReadyBlock block(T1::NodeAddress(0x12), std::uint8_t(0x80), Base::ByteArray()); }
    { T1::SupervisoryBlock block(T1::NodeAddress(0x12), 0u, 0u); }
    { T1::SupervisoryBlock block(T1::NodeAddress(0x12), std::uint8_t(0xC0), Base::ByteArray()); }
    { T1::Protocol protocol(&fifo, {.blockWaitingTime = 100}); }
    { [[maybe_unused]] T1::InformationBlock::Options options{.sequence = true, .last = false}; }
    { [[maybe_unused]] T1::Protocol::Options options{.blockWaitingTime = 2000}; }
    { [[maybe_unused]] T1::Protocol::ReceiveOptions options{.partial = true}; }
    { [[maybe_unused]] T1::Protocol::SendOptions options{.chunkSize = 1000}; }
    { [[maybe_unused]] T1::Protocol::Settings settings{}; }
    { T1::Protocol protocol(&fifo, 100, 10, 0, 0, 0, nullptr); }
    { UDL::UDLParser parser; }
    { UDL::UDLParser parser("tcpip:host@1", "Port"); }
    { UDL::UDLParser parser("server:tcpip:1", "", "UnnamedOption"); }
    { UDL::ModemParameters parameters(UDL::UDLParser("modem:x:Number=1", "")); }
    { UDL::Proxy proxy("loopback:", nullptr); }
    {
        UDL::Proxy server("loopback:", nullptr), port("loopback:", nullptr);
        UDL::SerialPortLink link(server, port);
    }
    { UDL::SharedDevice shared(fifo); }
    { UDL::BaseDeviceResolver resolver; }
    { [[maybe_unused]] UDL::ErrorText text; }
    {
        Base::TableTranslator texts;
        UDL::UDLPrinter printer(&texts, Base::Translator::English);
    }
    { Net::SerialServer server(new IO::SerialDevice(1, IO::SerialDevice::Baud9600)); }
    { IO::ServerDevice device(new Net::TcpIp4Server(0), 0); }
    { ZModem::CZModemCore core(&fifo, false); }
    { ZModem::CZModemCoreFields fields; }
    { ZModem::CZModem zmodem(&fifo); }
    { [[maybe_unused]] ZModem::SessionSettings settings{.window = 1 << 20}; }
    { ZModem::ZModemDevice device(&fifo); }
    { ZModem::TransferObserver observer; }
    { [[maybe_unused]] ZModem::ZModemDebugSink sink; }
    { [[maybe_unused]] ZModem::ZModemErrors errors; }
}

}  // namespace

int main() {
    base();
    net();
    others();
    std::puts("every class of the installed headers was built and destroyed");
    return 0;
}
