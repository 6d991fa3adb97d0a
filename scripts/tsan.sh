#!/usr/bin/env bash
# Builds varonet and its tests with ThreadSanitizer (clang 14; GoogleTest
# compiled from source with the same flags, so that nothing unchecked sits
# between the tests and the library) and runs the tests: the relay, the
# servers, the modem servers, the CAPI receive thread, wake-ups and ZMODEM's
# Terminate run threads; the rest costs little more and is checked too. Any
# report fails the run.
#   scripts/tsan.sh            build in build-tsan/ and run every test but the slow one
#   BUILD=dir                  another build folder
#   FILTER=regex               only the tests whose ctest name matches
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=${BUILD:-build-tsan}
jobs=$(nproc 2>/dev/null || echo 2)
flags="-fsanitize=thread -fno-omit-frame-pointer"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# GoogleTest from Debian's source package, instrumented like the library.
gtest=$build/gtest
if [ ! -f "$gtest/prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja "${launcher[@]}" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_INSTALL_PREFIX="$PWD/$gtest/prefix" >/dev/null
  cmake --build "$gtest/build" -j "$jobs" >/dev/null
  cmake --install "$gtest/build" >/dev/null
fi

cmake -S . -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
      -DCMAKE_PREFIX_PATH="$PWD/$gtest/prefix" \
      -DVARONET_WERROR=ON -DVARONET_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
cd "$build"
ctest -j "$jobs" --output-on-failure --timeout 600 -LE slow ${FILTER:+-R "$FILTER"}
