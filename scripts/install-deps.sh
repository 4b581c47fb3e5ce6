#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any is missing.
set -euo pipefail

packages=(
  cmake                 # the build (CMakeLists.txt)
  g++                   # the compiler
  ninja-build           # the build tool cmake is asked for (-G Ninja)
  pkg-config            # finds pugixml, libcurl, libudev, libzip and cpp-httplib
  libgtest-dev          # every test (hvb_test)
  libgmock-dev          # tests that use matchers
  libbenchmark-dev      # bench/ (make bench)
  libpugixml-dev        # plist reader (platform/foundation) and appcast reader (platform/services)
  nlohmann-json3-dev    # web API replies (online), user defaults (platform/foundation), web-service stand-in
  libcurl4-openssl-dev  # URL transfers (platform/net)
  libssl-dev            # MD5 of firmware packages (online) and https of the web-service stand-in
  libzip-dev            # firmware packages (tools, web-service stand-in); brings zlib with it
  libcpp-httplib-dev    # the web-service stand-in (standins/webservice)
  libudev-dev           # real cameras through udev (platform/devices)
  umockdev              # the emulated kernel USB bus: its preload library (standins/usbbus)
  libumockdev-dev       # the emulated kernel USB bus: its testbed (standins/usbbus)
  libseccomp-dev        # the driver host's unit's system-call filter, applied in tests (standins/unit)
  qt6-base-dev          # the application and its glue (app, settings, tools, platform/appkit)
  qt6-svg-dev           # the application's SVG images
  libxkbcommon-dev      # looked for by Qt's Gui package at every configure (its private part links it)
  libqt6svg6            # the SVG image plug-in at run time
  libicu-dev            # locale names of the application (app)
  xvfb                  # a display for watching `make run` (xvfb-run)
  xauth                 # xvfb-run's display authority
  xdg-utils             # xdg-open, which the application opens folders and web pages with
  fonts-dejavu-core     # a font for the offscreen and Xvfb windows of the GUI tests
  fonts-wqy-microhei    # a font with the Traditional Chinese glyphs, for the zh-Hant screens and their screenshots
  openssl               # the test certificate of the https transfer tests (platform/net)
  coreutils             # md5sum, the reference of bench/upgrade
  unzip                 # unzip -P, the reference of bench/upgrade
  appstream             # appstreamcli, which checks the installed metainfo (tests/HalvetorBody_ToolBox)
  systemd               # systemd-analyze, which checks and rates the driver host's unit (tests/SCSIDriver)
  desktop-file-utils    # desktop-file-validate, which checks the installed desktop entry (tests/HalvetorBody_ToolBox)
  libxml2-utils         # xmllint, which checks the installed polkit actions (tests/HalvetorBody_ToolBox)
  groff-base            # groff, which checks the installed manual page (tests/HalvetorBody_ToolBox)
  util-linux            # setpriv, unshare, findmnt and flock: other users, mount namespaces and the installer's lock (tests)
  procps                # pgrep, which finds the installer waiting for its lock (tests/SCSIDriver)
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
