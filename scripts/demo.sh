#!/usr/bin/env bash
# Builds the varonet tool (Release, no tests) and runs it.
#   scripts/demo.sh                   the demo: a ZMODEM transfer of a built-in sample over an
#                                     in-process null-modem cable, checked byte for byte
#   scripts/demo.sh SUBCOMMAND ...    any subcommand, e.g. scripts/demo.sh print 'serial:COM1@9600'
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --build
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARONET_TESTS=OFF -DVARONET_BENCH=OFF >/dev/null
cmake --build build-demo --target varonet_tool -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
if [ $# -eq 0 ]; then set -- demo; fi
exec build-demo/tool/varonet "$@"
