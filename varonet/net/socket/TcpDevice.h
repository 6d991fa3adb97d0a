#pragma once
// Net::TcpDevice: a TCP connection over IPv6 or IPv4, plain bytes both ways.
//
// Beside Net::TcpIp4Device (IPv4, the first address of a name): a client
// device is built for a host (a name, an IPv4 address, or an IPv6 address
// with or without brackets) and a port, and open tries every address the
// host has, in the order the system's lookup gives them, until one connects;
// the connect time-out covers the whole attempt. setFamily keeps it to one
// family. A device accepted by Net::TcpServer is open from the start and
// names its caller.

#include <memory>
#include <vector>

#include <varonet/base/Export.h>
#include <varonet/base/String.h>
#include <varonet/net/socket/AddressFamily.h>
#include <varonet/net/socket/BsdSocketDevice.h>

namespace Net {

class TcpServer;

class VARONET_API TcpDevice : public BsdSocketDevice {
public:
    /// Nothing touches the network before open. connectTimeout in ms for the
    /// whole open (0 = each address as long as the system allows). A port
    /// outside 1..65535 raises Base::Exception ErrBadPort.
    TcpDevice(const Base::String& host, unsigned int port, unsigned int connectTimeout);
    TcpDevice(const TcpDevice& other) = default;
    TcpDevice& operator=(const TcpDevice& other) = default;
    ~TcpDevice() override = default;

    /// Looks the host up (IO::Exception ErrHostNotFound naming the host and the
    /// family asked for) and connects to its addresses in turn; with a connect
    /// time-out T, each address gets an equal share of what is left of T. The
    /// first that connects wins. When none does: the failure of the last one
    /// (its errno, or Base::TimeoutException), whose text names every address
    /// tried with its family and why it failed. A wakeUp ends the attempt as a
    /// time-out. Opening an open device does nothing.
    void open() override;
    /// "host:port" as built ("[::1]:7000" for an IPv6 address), or the
    /// caller's address ("[::1]:53012", "127.0.0.1:53012") when accepted.
    Base::String getName() override;
    bool isReliable() override { return true; }
    /// Takes effect at the next open.
    void setConnectTimeout(unsigned int ms) override;
    unsigned int getConnectTimeout() const { return muConnectTimeout; }
    /// Which addresses open may use (AnyFamily by default); takes effect at the next open.
    void setFamily(EAddressFamily family) { meFamily = family; }
    EAddressFamily getFamily() const { return meFamily; }
    /// As Net::TcpIp4Device::setNoDelay: true (the default) sends small writes at once.
    void setNoDelay(bool on);
    bool getNoDelay() const { return mbNoDelay; }

    /// The host and port as built (the host without brackets).
    const Base::String& getHost() const { return msHost; }
    unsigned int getPort() const { return muPort; }
    /// Where the connection goes and comes from, "[::1]:7000" or
    /// "127.0.0.1:7000"; empty while not connected. An IPv4 caller of a
    /// listener on both families is shown as IPv4.
    const Base::String& getPeerAddress() const { return msPeerAddress; }
    const Base::String& getLocalAddress() const { return msLocalAddress; }

protected:
    friend class TcpServer;
    /// An accepted connection: adopts socket and reads both addresses from it.
    explicit TcpDevice(std::unique_ptr<BsdSocketDeviceInternal> socket);
    /// The addresses open tries, in order, as numeric texts ("::1",
    /// "127.0.0.1"): every address of the host of the family asked for, as
    /// the system's lookup gives them. Throws IO::Exception ErrHostNotFound,
    /// whose text names the host and the family, when there is none.
    virtual std::vector<Base::String> lookUpHost();

private:
    void readAddresses();

    Base::String msHost;
    unsigned int muPort;
    unsigned int muConnectTimeout;
    EAddressFamily meFamily = AnyFamily;
    bool mbNoDelay = true;
    Base::String msPeerAddress;
    Base::String msLocalAddress;
};

}  // namespace Net
