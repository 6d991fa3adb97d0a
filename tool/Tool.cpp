// What the varonet subcommands share: exit statuses, failure lines, the log and device set-up.
#include "Tool.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>

#include <varonet/base/SerialDevice.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/ErrorText.h>
#include <varonet/udl/UDLParser.h>
#include <varonet/zmodem/ZModemDebugSink.h>

namespace Tool {

std::string describe(const std::string& what, const Base::Exception& e) {
    return what + ": " + UDL::ErrorText::describe(e).str();
}

// ---------------------------------------------------------------- log target

namespace {
std::unique_ptr<std::ofstream> gLogFile;
std::ostream* gLogStream = nullptr;
std::unique_ptr<Log::StreamLogger> gLogger;
std::mutex gLogMutex;
}  // namespace

void LogTarget::open(const std::string& target) {
    if (target == "-") {
        gLogStream = &std::cerr;
    } else {
        gLogFile = std::make_unique<std::ofstream>(target, std::ios::app);
        if (!*gLogFile) throw Failure("cannot open the log file " + target + ": " + std::strerror(errno));
        gLogStream = gLogFile.get();
    }
    gLogger = std::make_unique<Log::StreamLogger>(*gLogStream);
    // The ZMODEM sessions' debug lines go to the same place.
    ZModem::ZModemDebugSink::set([](const Base::String& line) {
        std::lock_guard<std::mutex> guard(gLogMutex);
        *gLogStream << "[zmodem] " << line.str();
        if (!line.endsWith("\n")) *gLogStream << "\n";
        gLogStream->flush();
    });
}

Log::Logger* LogTarget::logger() { return gLogger.get(); }

// ------------------------------------------------------------------- devices

std::unique_ptr<IO::Device> resolveDevice(const std::string& locator) {
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device;
    try {
        device.reset(resolver.resolve(locator, LogTarget::logger(), nullptr));
    } catch (const Base::Exception& e) {
        throw Failure(describe("the locator '" + locator + "' cannot be used", e));
    }
    if (!device) throw Failure("the locator '" + locator + "' names no device: " + resolver.getReason().str());
    return device;
}

void openDevice(IO::Device& device, const std::string& locator) {
    StopHook hook([&device] { device.wakeUp(); });
    try {
        device.open();
    } catch (const Base::Exception& e) {
        if (Signals::stopRequested()) throw Failure("stopped while opening " + locator);
        std::string name = device.getName().str();
        bool told = name.empty() || locator.find(name) != std::string::npos || e.getText().contains(name);
        std::string where = told ? "" : " (" + name + ")";
        throw Failure(describe("cannot open " + locator + where, e));
    }
    if (Signals::stopRequested()) throw Failure("stopped while opening " + locator);
}

}  // namespace Tool
