#!/usr/bin/env bash
# Installs the Debian packages that building and testing varonet need, when missing.
set -euo pipefail

# Compilers and build tools; clang 14 with its sanitizer runtimes and formatter;
# test libraries and peers; what the command-line tool builds on; ccache and
# gcovr for developers (scripts/coverage.sh).
packages=(cmake ninja-build g++ make pkg-config binutils ccache
          clang-14 libclang-rt-14-dev clang-format-14
          libgtest-dev libgmock-dev googletest libbenchmark-dev python3 lrzsz socat
          libcli11-dev libudev-dev gcovr)
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
