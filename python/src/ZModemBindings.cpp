// ZMODEM for Python: file sessions on a worker thread, progress delivered to Python on the caller's thread.
#include <string>
#include <vector>

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <varonet/zmodem/CZModem.h>
#include <varonet/zmodem/ZModemErrors.h>

#include "Bindings.h"
#include "BlockingCall.h"
#include "Device.h"
#include "Errors.h"
#include "TransferEvents.h"

namespace PyVaronet {

namespace {

using Outcome = ZModem::TransferObserver::Outcome;
using ZModem::ZModemErrors;

/// The settings of a session that Python gives by keyword, read in this one
/// place (with the GIL) and applied to the session on its own thread.
struct SessionSettings {
    std::optional<ZModem::ExistingFile> policy;
    ZModem::SessionSettings session;

    static SessionSettings from(const py::dict& given) {
        SessionSettings settings;
        for (auto [key, value] : given) {
            std::string name = py::str(key);
            if (name == "policy") settings.policy = value.cast<ZModem::ExistingFile>();
            else if (name == "window") settings.session.window = windowOf(value);
            else if (name == "full_offer")
                settings.session.offer = value.cast<bool>() ? ZModem::SessionSettings::Offer::Full
                                                            : ZModem::SessionSettings::Offer::NameAndSize;
            else if (name == "keep_time_and_mode") settings.session.keepTimeAndMode = value.cast<bool>();
            else if (name == "greet_at_once") settings.session.greetAtOnce = value.cast<bool>();
            else throw py::type_error("'" + name + "' is not a setting of a ZMODEM session");
        }
        return settings;
    }

    void applyTo(ZModem::CZModem& session) const {
        if (policy) session.setExistingFilePolicy(*policy);
        session.setSettings(this->session);
    }

private:
    static int windowOf(py::handle value) {
        auto window = value.cast<long long>();
        if (window < 0 || window > (1LL << 30))
            throw py::value_error("window " + std::to_string(window) + " is not a byte count from 0 to 1 GiB");
        return static_cast<int>(window);
    }
};

py::object outcomeOf(const TransferEvents::File& file) {
    return file.outcome ? py::cast(*file.outcome) : py::object(py::none());
}

/// Runs body(session) on a worker thread with the device to itself; progress
/// (may be None) hears of every file that changed, on this thread. The files'
/// records as (name, outcome, code, size, bytes) tuples.
std::pair<int, py::list> runSession(py::handle device, const std::function<int(ZModem::CZModem&)>& body,
                                    const py::object& progress, const SessionSettings& settings) {
    Device& shared = deviceOf(device);
    BlockingCall call;
    TransferEvents events([&call] { call.poke(); });
    int result = 0;
    ZModem::CZModem session(&shared.forSessions());
    session.setObserver(&events);
    settings.applyTo(session);
    auto tell = [&] {
        for (const TransferEvents::File& file : events.takeChanged())
            if (!progress.is_none()) progress(file.name, file.bytes, file.size, outcomeOf(file));
    };
    // The device is the session's alone while it runs: no other Python thread reads or writes it.
    call.run([&] { shared.exclusive([&](IO::Device&) { result = body(session); }); },
             [&] {
                 session.Terminate();
                 shared.wakeUp();
             },
             tell);
    py::list files;
    for (const TransferEvents::File& file : events.files())
        files.append(py::make_tuple(file.name, outcomeOf(file), file.code, file.size, file.bytes));
    return {events.anyFailed() ? 0 : result, files};
}

py::list send(py::handle device, const std::vector<std::string>& paths, const py::object& progress,
              const py::dict& settings) {
    std::vector<Base::String> names(paths.begin(), paths.end());
    auto [result, files] = runSession(
        device, [&](ZModem::CZModem& session) { return session.sendFiles(names); }, progress,
        SessionSettings::from(settings));
    if (result != 0) Errors::raise(Errors::forCode(result, "the ZMODEM session failed"));
    return files;
}

py::list receive(py::handle device, const std::string& folder, int minutes, const py::object& progress,
                 const py::dict& settings) {
    auto [result, files] = runSession(
        device,
        [&](ZModem::CZModem& session) {
            session.set_path(folder);
            return session.rec_z(minutes);
        },
        progress, SessionSettings::from(settings));
    if (result == ZModemErrors::ErrNoRz) Errors::raise(Errors::forCode(result, "no sender started in time"));
    if (result != 0 && result != 1)  // 1: a command came, which is not run
        Errors::raise(Errors::forCode(result, "the ZMODEM session failed"));
    return files;
}

}  // namespace

void bindZModem(py::module_& module) {
    py::enum_<Outcome>(module, "Outcome", "How a file of a ZMODEM session ended.")
        .value("SENT", Outcome::Sent, "transferred whole (sent, or received and written)")
        .value("SKIPPED", Outcome::Skipped, "the receiver had it already, or kept its own file")
        .value("FAILED", Outcome::Failed, "see the code");
    py::enum_<ZModem::ExistingFile>(module, "ExistingFile",
                                    "What receiving does with a file of the offered name that is there already.")
        .value("RESUME", ZModem::ExistingFile::Resume,
               "continue a shorter file; skip one as long as the offer or longer")
        .value("KEEP", ZModem::ExistingFile::Keep,
               "keep it and report the file skipped, unless the sender asks to "
               "resume")
        .value("OVERWRITE", ZModem::ExistingFile::Overwrite, "receive the file from 0 over it")
        .value("RENAME", ZModem::ExistingFile::Rename, "receive beside it as name.1.ext, name.2.ext, ...");
    module.def("zmodem_send", &send, py::arg("device"), py::arg("paths"), py::arg("progress"), py::arg("settings"));
    module.def("zmodem_receive", &receive, py::arg("device"), py::arg("folder"), py::arg("minutes"),
               py::arg("progress"), py::arg("settings"));
}

}  // namespace PyVaronet
