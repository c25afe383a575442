#!/usr/bin/env bash
# Installs the system packages the build and the tests need, when missing.
set -euo pipefail
need=()
# xvfb, xauth and x11-utils give ./test.sh a virtual X server for the X11 tests.
pkgs=(g++-multilib cmake ninja-build googletest valgrind clang libclang-rt-14-dev fonts-dejavu-core fonts-dejavu-extra
      xvfb xauth x11-utils)
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
# Xlib for the X11 display; XTest only for the X11 tests' input.
i386pkgs=(libbenchmark-dev:i386 libc6-dbg:i386 libfreetype-dev:i386 libpixman-1-dev:i386 libpng-dev:i386 zlib1g-dev:i386
          libx11-dev:i386 libxtst-dev:i386)
for p in "${i386pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # Stale package lists make the first try fail: refresh them and try again.
  $SUDO apt-get update -y -q ||
    { sleep 5; $SUDO apt-get update -y -q; }
  $SUDO apt-get install -y -q --no-install-recommends "${need[@]}" ||
    { $SUDO apt-get update -y -q && $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"; }
fi
