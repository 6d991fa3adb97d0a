// varonet send LOCATOR FILE... and varonet receive LOCATOR [DIR]: ZMODEM.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <CLI/CLI.hpp>

#include <varonet/zmodem/CZModem.h>

#include "Transfer.h"

namespace Tool {

namespace {

/// Reports a session's end that no file's line explains, and gives the exit status.
int finish(int result, const TransferReport& report) {
    if (result != 0 && Signals::stopRequested()) throw Failure("stopped; the transfer is incomplete");
    if (result != 0 && !report.anyFailed()) throw Failure("the session failed: " + sessionResult(result));
    return report.anyFailed() || result != 0 ? ExitFailed : ExitDone;
}

class SendCommand : public Command {
public:
    explicit SendCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("send", "Send files with ZMODEM (one session for all of them)");
        mpApp->footer(
            "By default the data streams: up to --window bytes go out ahead of the receiver's\n"
            "acknowledgement (less after damage on the line), and each file is offered with its\n"
            "modification time and mode, which the receiver gives the file it writes.\n"
            "Example: varonet send serial:ttyUSB0@115200 firmware.bin notes.txt");
        mpApp->add_option("locator", msLocator, "The device the receiver is on")->required();
        mpApp->add_option("files", mvFiles, "The files to send")->required();
        mpApp
            ->add_option("--window", miWindow,
                         "Bytes sent ahead of the receiver's acknowledgement; 0 waits for it after every "
                         "1 KiB subpacket")
            ->default_val(miWindow)
            ->check(CLI::Range(0, 1 << 30));
        mpApp
            ->add_option("--offer", msOffer,
                         "What a file offer says: full (name, size, time, mode) or short (name and size)")
            ->default_val(msOffer)
            ->check(CLI::IsMember({"full", "short"}));
        mpApp->add_flag("-q,--quiet", mbQuiet, "Print nothing but failures");
    }

    int run() override {
        TransferReport report(TransferReport::Sending, "", false, mbQuiet);
        std::vector<Base::String> paths;
        for (const std::string& file : mvFiles) {
            // A file that cannot be read fails here, before anyone waits for it.
            std::string name = std::filesystem::path(file).filename().string();
            int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || std::filesystem::is_directory(file)) {
                report.failedBefore(name, fd < 0 ? std::strerror(errno) : "it is a directory");
                if (fd >= 0) ::close(fd);
                continue;
            }
            ::close(fd);
            paths.push_back(std::filesystem::absolute(file).string());
        }
        if (paths.empty()) return ExitFailed;
        std::unique_ptr<IO::Device> device = resolveDevice(msLocator);
        openDevice(*device, msLocator);
        ZModem::CZModem session(device.get());
        session.setObserver(&report);
        session.setSettings({.window = miWindow,
                             .offer = msOffer == "full" ? ZModem::SessionSettings::Offer::Full
                                                        : ZModem::SessionSettings::Offer::NameAndSize});
        StopHook stop([&session] { session.Terminate(); });
        int result = session.sendFiles(paths);
        report.end();
        device->close();
        return finish(result, report);
    }

private:
    std::string msLocator;
    std::vector<std::string> mvFiles;
    int miWindow = 1 << 20;
    std::string msOffer = "full";
    bool mbQuiet = false;
};

class ReceiveCommand : public Command {
public:
    explicit ReceiveCommand(CLI::App& tool) {
        mpApp = tool.add_subcommand("receive", "Receive files with ZMODEM into a folder");
        mpApp->footer(
            "An existing file of the same name is kept and reported skipped, unless the sender asks to\n"
            "resume or replace it (sz -r, sz -y) or an option below says otherwise. A received file\n"
            "gets the modification time and mode the sender offers (never more than the folder and\n"
            "the umask allow, never setuid, setgid or sticky) unless --no-metadata is given.\n"
            "Example: varonet receive serial:ttyUSB0@115200 ~/incoming");
        mpApp->add_option("locator", msLocator, "The device the sender is on")->required();
        mpApp->add_option("dir", msDir, "The folder for the files")->default_val(".");
        auto* resume = mpApp->add_flag("--resume", mbResume, "Continue a shorter existing file");
        auto* overwrite = mpApp->add_flag("--overwrite", mbOverwrite, "Replace an existing file");
        auto* rename = mpApp->add_flag("--rename", mbRename, "Receive beside an existing file as NAME.1.EXT, ...");
        resume->excludes(overwrite)->excludes(rename);
        overwrite->excludes(rename);
        mpApp->add_option("--wait", muWaitMinutes, "Minutes to wait for the sender to start")->default_val(10);
        mpApp->add_flag("--no-metadata", mbNoMetadata,
                        "Ignore the sender's modification time and mode (files get the time they were "
                        "written and mode 0640 less the umask)");
        mpApp->add_flag("-q,--quiet", mbQuiet, "Print nothing but failures");
    }

    int run() override {
        checkWritable(msDir);
        std::unique_ptr<IO::Device> device = resolveDevice(msLocator);
        openDevice(*device, msLocator);
        ZModem::ExistingFile policy = mbResume      ? ZModem::ExistingFile::Resume
                                      : mbOverwrite ? ZModem::ExistingFile::Overwrite
                                      : mbRename    ? ZModem::ExistingFile::Rename
                                                    : ZModem::ExistingFile::Keep;
        TransferReport report(TransferReport::Receiving, msDir, policy == ZModem::ExistingFile::Resume, mbQuiet);
        ZModem::CZModem session(device.get());
        session.set_path(msDir);
        session.setExistingFilePolicy(policy);
        session.setSettings({.keepTimeAndMode = !mbNoMetadata, .greetAtOnce = true});
        session.setObserver(&report);
        StopHook stop([&session] { session.Terminate(); });
        int result = session.rec_z(static_cast<int>(muWaitMinutes));
        report.end();
        device->close();
        if (result == ZModem::ZModemErrors::ErrNoRz) throw Failure("no sender started within the wait");
        return finish(result == 1 ? 0 : result, report);  // 1: a command came, which is not run
    }

private:
    /// Creating a file there is the one test that holds for every user and file system.
    static void checkWritable(const std::string& dir) {
        if (!std::filesystem::is_directory(dir)) throw Failure("cannot receive into " + dir + ": not a folder");
        std::string probe = (std::filesystem::path(dir) / ".varonet-XXXXXX").string();
        int fd = ::mkstemp(probe.data());
        if (fd < 0) throw Failure("cannot receive into " + dir + ": " + std::strerror(errno));
        ::close(fd);
        ::unlink(probe.c_str());
    }

    std::string msLocator;
    std::string msDir = ".";
    bool mbResume = false, mbOverwrite = false, mbRename = false, mbNoMetadata = false, mbQuiet = false;
    unsigned int muWaitMinutes = 10;
};

}  // namespace

std::unique_ptr<Command> makeSendCommand(CLI::App& tool) { return std::make_unique<SendCommand>(tool); }
std::unique_ptr<Command> makeReceiveCommand(CLI::App& tool) { return std::make_unique<ReceiveCommand>(tool); }

}  // namespace Tool
