#!/usr/bin/env bash
# Builds the library and its example, then resolves a locator (loopback: by
# default), writes a message through it and reads the answer back.
#   scripts/demo.sh                          in-memory loopback
#   scripts/demo.sh 'tcpip:127.0.0.1@7000'   any locator whose far end echoes
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARONET_TESTS=OFF -DVARONET_BENCH=OFF >/dev/null
cmake --build build-demo --target varonet-demo -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
exec build-demo/varonet-demo "$@"
