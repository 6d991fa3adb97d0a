// Ser2net: Debian's ser2net serving a pseudo-terminal with RFC 2217, started and stopped by a test.
#include "support/Ser2net.h"

#include "support/Files.h"
#include "support/Loopback.h"

namespace TestSupport {

Ser2net::Ser2net(const std::string& device, const std::string& folder) {
    const unsigned int port = unusedPort();
    writeFile(folder + "/ser2net.yaml",
              "connection: &remote\n"
              "  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                  std::to_string(port) + "\n  connector: serialdev," + device + ",9600n81,local\n");
    mpProcess = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-u", "-c", folder + "/ser2net.yaml"},
        ChildProcess::Options{.stderrPath = folder + "/ser2net.log"});
    if (waitListening(port, 5000)) muPort = port;
}

}  // namespace TestSupport
