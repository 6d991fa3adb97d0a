// varonet demo: the tool's main job with nothing to set up. A sample file
// built into the program goes by ZMODEM from one end of an in-process
// null-modem cable to the other, through ordinary serial: locators, and the
// copy is compared with the original.
//
//   serial:DEMO-A@115200 ==[virtual null-modem cable]== serial:DEMO-B@115200
//      sender (sendFiles)                                 receiver (rec_z)

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <thread>

#include <CLI/CLI.hpp>

#include <varonet/sim/VirtualSerialPair.h>
#include <varonet/zmodem/CZModem.h>

#include "Transfer.h"

namespace Tool {

namespace {

/// The sample: lines of text, then every byte value (so that the escaping of
/// control characters is shown to work), repeated up to the size.
std::string sample(std::size_t size) {
    std::string text;
    for (int line = 1; text.size() < size; ++line) {
        text += "varonet demo line " + std::to_string(line) +
                ": one locator names a serial port, a modem, a TCP peer, a pipe or a file.\n";
        if (line % 64 == 0)
            for (int byte = 0; byte < 256; ++byte) text += static_cast<char>(byte);
    }
    text.resize(size);
    return text;
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The sample and its copy are held in memory.
constexpr std::size_t kMostBytes = std::size_t{256} << 20;

class DemoCommand : public Command {
public:
    explicit DemoCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("demo", "Send a built-in sample by ZMODEM over an in-process null-modem cable");
        mpApp->footer("Example: varonet demo --size 1048576");
        mpApp->add_option("--size", muSize, "Bytes in the sample (at most 256 MiB: it is held in memory)")
            ->default_val(262144)
            ->check(CLI::Range(std::size_t{1}, kMostBytes));
        mpApp->add_option("--keep", msKeep,
                          "Keep the sample and its copy in this folder (made if missing, its parent is not)");
    }

    int run() override {
        std::filesystem::path base = msKeep.empty() ? makeTemporaryFolder() : std::filesystem::path(msKeep);
        // Only the folder asked for and the two inside it are made, never a parent.
        for (const auto& folder : {base, base / "sent", base / "received"}) {
            std::error_code error;
            if (!std::filesystem::create_directory(folder, error) && error)
                throw Failure("cannot make the folder " + folder.string() + ": " + error.message());
        }
        const std::string original = sample(muSize);
        std::ofstream(base / "sent" / "sample.txt", std::ios::binary) << original;

        const std::string a = "serial:DEMO-A@115200", b = "serial:DEMO-B@115200";
        Sim::VirtualSerialPair::create("DEMO-A", "DEMO-B");
        std::cout << "A ZMODEM transfer over an in-process null-modem cable:\n"
                  << "  sender   " << a << "  sends   " << (base / "sent" / "sample.txt").string() << "\n"
                  << "  receiver " << b << "  writes into " << (base / "received").string() << "\n"
                  << std::flush;
        // Both ends are open before a byte moves: the cable drops what an unopened end would get.
        std::unique_ptr<IO::Device> sender = resolveDevice(a), receiver = resolveDevice(b);
        openDevice(*sender, a);
        openDevice(*receiver, b);

        int received = -1;
        ZModem::CZModem receiving(receiver.get());
        receiving.set_path((base / "received").string());
        std::thread receiverThread([&] { received = receiving.rec_z(1); });
        TransferReport report(TransferReport::Sending, "", false, false, stdout);
        ZModem::CZModem sending(sender.get());
        sending.setObserver(&report);
        int sent;
        {
            StopHook stop([&] {
                sending.Terminate();
                receiving.Terminate();
            });
            sent = sending.sendFiles({(base / "sent" / "sample.txt").string()});
            report.end();
            receiverThread.join();
        }
        std::string copy = readAll(base / "received" / "sample.txt");
        if (msKeep.empty()) std::filesystem::remove_all(base);
        if (sent != 0) throw Failure("the sender failed: " + sessionResult(sent));
        if (received != 0) throw Failure("the receiver failed: " + sessionResult(received));
        if (copy != original) {
            std::cout << "The copy differs from the sample.\n";
            return ExitFailed;
        }
        std::cout << "The copy is byte-identical to the sample (" << original.size() << " bytes).\n";
        return ExitDone;
    }

private:
    static std::filesystem::path makeTemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varonet-demo-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw Failure("cannot make a temporary folder");
        return pattern;
    }

    std::size_t muSize = 262144;
    std::string msKeep;
};

}  // namespace

std::unique_ptr<Command> makeDemoCommand(CLI::App& tool) { return std::make_unique<DemoCommand>(tool); }

}  // namespace Tool
