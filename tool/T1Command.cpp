// varonet t1 LOCATOR HEX...: sends T=1 frames and prints the answers in hex.

#include <cctype>
#include <iostream>

#include <CLI/CLI.hpp>

#include <varonet/t1/Protocol.h>

#include "Tool.h"

namespace Tool {

namespace {

/// Hex digits, with spaces, ":" or "-" between bytes allowed.
Base::ByteArray parseHex(const std::string& text) {
    Base::ByteArray bytes;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
        else if (c != ' ' && c != ':' && c != '-')
            throw Failure("'" + text + "' is not hex (a frame is written like 00A40400 or \"00 a4 04 00\")", ExitUsage);
    }
    if (digits.size() % 2) throw Failure("'" + text + "' has an odd number of hex digits", ExitUsage);
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.append(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string hex(const Base::ByteArray& bytes) {
    std::string out;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        out += byte;
    }
    return out;
}

class T1Command : public Command {
public:
    explicit T1Command(CLI::App& tool) {
        mpApp = tool.add_subcommand("t1", "Send T=1 frames and print the answers in hex");
        mpApp->footer(
            "Each HEX argument is one frame; each answer is printed on its own line.\n"
            "Example: varonet t1 serial:ttyUSB0@9600 --nad 12 00A4040007A0000000041010");
        mpApp->add_option("locator", msLocator, "The device the node is on")->required();
        mpApp->add_option("frames", mvFrames, "Frames in hex")->required();
        mpApp->add_option("--nad", msNad, "Node address byte in hex")->default_val("00");
        mpApp->add_option("--bwt", muBlockWait, "Block waiting time in ms")->default_val(1000);
        mpApp->add_option("--cwt", muCharWait, "Character waiting time in ms")->default_val(100);
    }

    int run() override {
        Base::ByteArray nad = parseHex(msNad);
        if (nad.size() != 1) throw Failure("--nad takes one byte in hex, e.g. 12", ExitUsage);
        std::vector<Base::ByteArray> frames;
        for (const std::string& text : mvFrames) frames.push_back(parseHex(text));
        std::unique_ptr<IO::Device> device = resolveDevice(msLocator);
        openDevice(*device, msLocator);
        T1::Protocol protocol(device.get(), muBlockWait, muCharWait, 0, 0, 0, LogTarget::logger());
        const T1::NodeAddress address(nad[0]);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (Signals::stopRequested()) throw Failure("stopped");
            try {
                protocol.send(T1::Frame(address, frames[i]));
                T1::Frame answer = protocol.receive(address);
                std::cout << hex(answer.getData()) << std::endl;
            } catch (const Base::Exception& e) {
                throw Failure(describe("frame " + std::to_string(i + 1) + " (" + mvFrames[i] + ")", e));
            }
        }
        device->close();
        return ExitDone;
    }

private:
    std::string msLocator;
    std::vector<std::string> mvFrames;
    std::string msNad = "00";
    unsigned int muBlockWait = 1000;
    unsigned int muCharWait = 100;
};

}  // namespace

std::unique_ptr<Command> makeT1Command(CLI::App& tool) { return std::make_unique<T1Command>(tool); }

}  // namespace Tool
