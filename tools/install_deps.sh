#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. Quiet and
# quick when everything is already there.
set -euo pipefail

packages=(
  # native build and tests
  cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev clang-format
  libgtk-3-dev libmount-dev
  # the fuzzer: clang with libFuzzer and its sanitizer runtimes
  clang libclang-rt-14-dev
  # the benchmarks press keys in real windows
  libxtst-dev
  # real windows under a headless X server
  xvfb xauth xdotool x11-utils dbus dbus-x11 at-spi2-core python3 python3-pyatspi imagemagick
  fonts-ipafont-gothic
  # the Windows program and its tests
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine wine64
  # the program opens what it joined with the desktop's opener, and is
  # opened from the file manager through its desktop entry and MIME type
  xdg-utils desktop-file-utils shared-mime-info libglib2.0-bin
  # the Debian package: its dependencies found by dpkg-shlibdeps, checked
  # by lintian; the manual pages rendered by man
  dpkg-dev file lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
