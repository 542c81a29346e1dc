#!/usr/bin/env bash
# Installs every Debian package that batchreplace needs to build, run and test.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcurl4-openssl-dev
  libreoffice-dev
  # .docx/.xlsx packages: zip (zlib) and XML (Expat); zlib for the Windows cross-build
  zlib1g-dev libexpat1-dev libz-mingw-w64-dev
  # JSON for the run report
  nlohmann-json3-dev
  # the updater's manual download in an embedded web view (Qt WebEngine)
  qt6-webengine-dev
  # run: the office suite driven through UNO, and a CJK font for the Chinese texts
  libreoffice-writer libreoffice-calc
  fonts-wqy-microhei
  # tests
  googletest libgtest-dev libgmock-dev
  libcpp-httplib-dev libssl-dev openssl
  xvfb xauth x11-apps imagemagick
  # the report's JSON Schema checked in the tests (Debian's python3)
  python3-jsonschema
  # screenshots of translucent windows need a compositing manager; xsetroot paints the root
  xcompmgr x11-xserver-utils
  # the Windows build: mingw-w64 cross compiler, and Wine to run its tests
  g++-mingw-w64-x86-64-posix wine64
  # the zh_CN locale source that a Chinese Wine prefix is made from (localedef)
  locales
  # the Debian package's library dependencies, and the desktop entry's test
  dpkg-dev desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
