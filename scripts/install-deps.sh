#!/usr/bin/env bash
# Installs the Debian packages that building and testing varonet need, when missing.
#   scripts/install-deps.sh           everything (build, tests, benchmarks)
#   scripts/install-deps.sh --build   only what building the library and the tool needs
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config libcli11-dev libudev-dev)
if [ "${1:-}" != "--build" ]; then
  packages+=(libgtest-dev libgmock-dev googletest libbenchmark-dev python3 lrzsz socat)
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
