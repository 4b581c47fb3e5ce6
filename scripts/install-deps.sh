#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any is missing.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev nlohmann-json3-dev
  libcurl4-openssl-dev libssl-dev libzip-dev zlib1g-dev libcpp-httplib-dev
  libudev-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 libicu-dev
  qt6-multimedia-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  xvfb xauth xdg-utils fonts-dejavu-core
  openssl
)

# `make fuzz` only: clang with its libFuzzer, never pulled in by `make test`.
if [ "${1:-}" = --fuzz ]; then
  packages=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
