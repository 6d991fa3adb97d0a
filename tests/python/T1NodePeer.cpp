// A T=1 node on a new pseudo-terminal for the Python tests: it prints the
// terminal's path and answers each frame with its bytes reversed and 90 00,
// until its standard input closes.
#include <iostream>
#include <string>
#include <thread>

#include <varonet/base/PseudoTerminal.h>

#include "peers/T1Node.h"

int main() {
    IO::PseudoTerminal pty;
    T1Peer::T1Node node(pty.getHandle(), 0x12);
    std::cout << pty.getSlavePath().str() << std::endl;
    std::thread([] {
        for (std::string line; std::getline(std::cin, line);) {}
        std::_Exit(0);
    }).detach();
    for (;;)
        node.serve([](const T1Peer::Bytes& frame) {
            T1Peer::Bytes answer(frame.rbegin(), frame.rend());
            answer.insert(answer.end(), {0x90, 0x00});
            return answer;
        });
}
