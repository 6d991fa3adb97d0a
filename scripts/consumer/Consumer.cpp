// Resolves the in-memory loopback, writes a line and reads it back.
#include <varonet/udl/BaseDeviceResolver.h>

#include <cstdio>
#include <memory>

static_assert(__cplusplus >= 202002L, "varonet::varonet carries C++20");

int main() {
    UDL::BaseDeviceResolver resolver;
    std::unique_ptr<IO::Device> device(resolver.resolve("loopback:", nullptr, nullptr));
    device->open();
    device->write(Base::String("hello"));
    char buffer[16] = {};
    long n = device->read(buffer, sizeof buffer - 1);
    std::printf("find_package consumer read '%s'\n", buffer);
    return n == 5 ? 0 : 1;
}
