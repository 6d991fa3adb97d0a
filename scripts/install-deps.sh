#!/usr/bin/env bash
# Installs the Debian packages that building and testing varonet need, when missing.
#   scripts/install-deps.sh           everything (build, tests, benchmarks)
#   scripts/install-deps.sh --build   only what building the library and the tool needs
set -euo pipefail

# Compilers and build tools, what the command-line tool builds on (help2man
# writes its man page) and the Python module (pybind11, Python's headers); then
# clang 14 with its sanitizer runtimes and formatter, libclang's Python binding
# (the consumer step reads the installed headers with it), test libraries and
# peers (lrzsz, socat, ser2net, pyserial and pytest for the system's python3),
# ccache and gcovr for developers (scripts/coverage.sh).
packages=(cmake ninja-build g++ make pkg-config libcli11-dev libudev-dev help2man pybind11-dev python3-dev)
if [ "${1:-}" != "--build" ]; then
  packages+=(binutils ccache clang-14 libclang-rt-14-dev clang-format-14 python3-clang-14
             libgtest-dev libgmock-dev googletest libbenchmark-dev python3 python3-serial python3-pytest
             lrzsz socat ser2net gcovr)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
