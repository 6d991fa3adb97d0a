#pragma once
// VARONET_API marks what the library exports: the classes (and the few free
// functions) of its public headers. The library is built with hidden
// visibility, so everything else stays inside a shared build.

#if defined(__GNUC__) || defined(__clang__)
#define VARONET_API __attribute__((visibility("default")))
#else
#define VARONET_API
#endif
