// A Hayes modem simulator on a new pseudo-terminal for the tool's tests: it
// prints the terminal's path, sets a short guard time, and runs until its
// standard input closes.
#include <iostream>
#include <string>

#include <varonet/sim/ModemSimulator.h>

int main() {
    auto modem = Sim::ModemSimulator::onPseudoTerminal();
    modem->setGuardTime(100);
    std::cout << modem->getPortPath().str() << std::endl;
    for (std::string line; std::getline(std::cin, line);) {}
    return 0;
}
