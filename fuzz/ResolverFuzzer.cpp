// The resolver on protocol words that touch nothing outside the process: none:,
// loopback:, file: inside a temporary folder, and tcpip: / domain: devices
// that are built but never opened. First byte: the word; the rest follows it.
// Checked: the only failure is Base::Exception 9729; deleting what resolve
// returned gives back every descriptor it took; a loopback device gives back
// what was written to it.
#include <algorithm>
#include <memory>

#include <varonet/base/Exception.h>
#include <varonet/udl/BaseDeviceResolver.h>
#include <varonet/udl/UDLErrors.h>

#include "FuzzSupport.h"

namespace {
enum EWord { None, Loopback, File, TcpIp, Domain, WordCount };
const char* const kWords[WordCount] = {"none:", "loopback:", "file:", "tcpip:", "domain:"};

// What a device of each word must do once built.
void use(IO::Device& device, unsigned int word, const std::string& tail) {
    device.getName();
    const std::string sample = tail.substr(0, 64);
    if (word == Loopback) {
        device.write(sample.data(), static_cast<long>(sample.size()));
        std::string back(sample.size(), '\0');
        long got = device.size() > 0 ? device.read(&back[0], static_cast<long>(back.size())) : 0;
        if (got != static_cast<long>(sample.size()) || back != sample) Fuzz::fail("loopback lost bytes");
    } else if (word == File) {
        try {
            device.open();
            device.write(sample.data(), static_cast<long>(std::min<std::size_t>(sample.size(), 16)));
            device.close();
        } catch (const Base::Exception&) {
            // A name the file system refuses, or a read-only file that does not exist.
        }
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned int word = data[0] % WordCount;
    const std::string tail(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string locator = kWords[word];
    if (word == File) {
        if (tail.find("..") != std::string::npos) return 0;  // stays inside the folder
        locator += Fuzz::tempFolder().string() + "/";
    }
    locator += tail;

    const int before = Fuzz::openDescriptors();
    {
        std::unique_ptr<IO::Device> device;
        bool refused = false;
        try {
            device.reset(UDL::BaseDeviceResolver().resolve(locator, nullptr, nullptr));
        } catch (const Base::Exception& e) {
            if (e.getErrorCode() != UDL::ErrBadLocator) Fuzz::fail("resolve failed with a code other than 9729");
            refused = true;
        }
        if (word == None && device) Fuzz::fail("none: gave a device");
        if (word != None && !device && !refused) Fuzz::fail("no device and no exception");
        if (device) use(*device, word, tail);
    }
    if (word == File) Fuzz::emptyFolder(Fuzz::tempFolder());
    if (Fuzz::openDescriptors() != before) Fuzz::fail("a descriptor was left open");
    return 0;
}
