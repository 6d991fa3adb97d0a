// varonet-demo: resolves a locator (loopback: when none is given), opens the
// device, writes a message, reads the answer back and prints both.
//
//   varonet-demo                      the in-memory loopback
//   varonet-demo tcpip:localhost@7    any locator whose far end echoes
//   varonet-demo capi::Number=555     CAPI through the in-process simulated
//                                     exchange, where 555 answers and echoes
#include <iostream>
#include <memory>
#include <string>

#include <varonet/base/Device.h>
#include <varonet/base/Exception.h>
#include <varonet/base/Logger.h>
#include <varonet/sim/CapiExchange.h>
#include <varonet/udl/BaseDeviceResolver.h>

int main(int argc, char** argv) {
    const Base::String locator = argc > 1 ? argv[1] : "loopback:";
    const Base::String message = argc > 2 ? argv[2] : "Hello from varonet";
    try {
        Log::StreamLogger logger(std::cerr);
        // There is no ISDN card here: CAPI locators reach the simulated exchange.
        auto exchange = std::make_shared<Sim::CapiExchange>();
        exchange->addNumber("555", Sim::CapiExchange::AnswerEcho);
        Capi::CapiBackend::setDefault(exchange);
        UDL::BaseDeviceResolver resolver;
        std::unique_ptr<IO::Device> device(resolver.resolve(locator, &logger, nullptr));
        if (!device) {
            std::cerr << "The locator '" << locator.str() << "' names no device.\n";
            return 2;
        }
        device->open();
        std::cout << "device:  " << device->getName().str() << "\n";
        device->write(message);
        device->flush();
        std::cout << "wrote:   " << message.str() << "\n";

        std::string answer;
        char buffer[4096];
        while (answer.size() < message.length() && device->waitForData(3000)) {
            long n = device->read(buffer, static_cast<long>(sizeof buffer));
            if (n <= 0) break;
            answer.append(buffer, static_cast<std::size_t>(n));
        }
        std::cout << "read:    " << answer << "\n";
        device->close();
        if (answer != message.str()) {
            std::cerr << "The answer differs from the message.\n";
            return 1;
        }
        return 0;
    } catch (const Base::Exception& e) {
        std::cerr << "varonet-demo: " << e.what() << "\n";
        return 1;
    }
}
