#!/bin/bash
# Counts the guest instructions of benchmarks, for a machine that runs the
# i386 programs only under user-mode emulation, where neither wall time nor
# Valgrind measure them.  It builds, once, the emulator with plugin support
# (from Debian's source of the installed emulator) and tools/insncount's
# plugin under build/insncount, then runs each benchmark the filter matches
# in a process of its own and prints the instructions between the
# benchmark's marks (bench/insn_marks.h) per window.
#
#   scripts/insncount.sh FILTER [PLUGIN-OPTIONS]
#     FILTER          a --benchmark_filter expression
#     PLUGIN-OPTIONS  e.g. top=30, inclusive=1, callers=SYMBOL (comma-separated)
#
# A benchmark without marks prints "windows 0".
set -euo pipefail
cd "$(dirname "$0")/.."
filter=${1:?usage: scripts/insncount.sh FILTER [PLUGIN-OPTIONS]}
options=${2:-}
bench=${QX_BENCH_BIN:-build/bench/qxbench}
out=build/insncount
version=7.2.0
mkdir -p "$out"

if [ ! -x "$out/qemu-i386" ] || [ ! -f "$out/qemu-plugin.h" ]; then
  sudo_=""; [ "$(id -u)" = 0 ] || sudo_=sudo
  missing=""
  for p in meson ninja-build libglib2.0-dev pkg-config curl xz-utils; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
  done
  [ -z "$missing" ] || $sudo_ apt-get install -y $missing
  src=$out/src
  if [ ! -d "$src/qemu-$version" ]; then
    mkdir -p "$src"
    curl -fsSL -o "$src/qemu.tar.xz" "http://deb.debian.org/debian/pool/main/q/qemu/qemu_7.2+dfsg.orig.tar.xz"
    tar -C "$src" -xf "$src/qemu.tar.xz"
  fi
  mkdir -p "$src/qemu-$version/b"
  (cd "$src/qemu-$version/b" &&
    ../configure --target-list=i386-linux-user --enable-plugins --disable-docs --disable-werror \
      --disable-tools --disable-system --disable-install-blobs >/dev/null &&
    ninja qemu-i386 >/dev/null)
  cp "$src/qemu-$version/b/qemu-i386" "$out/qemu-i386"
  cp "$src/qemu-$version/include/qemu/qemu-plugin.h" "$out/qemu-plugin.h"
fi
if [ ! -f "$out/libinsncount.so" ] || [ tools/insncount/insncount.c -nt "$out/libinsncount.so" ]; then
  gcc -O2 -Wall -shared -fPIC -I"$out" -o "$out/libinsncount.so" tools/insncount/insncount.c
fi

plugin="$out/libinsncount.so"
[ -z "$options" ] || plugin="$plugin,$options"
"$bench" --benchmark_list_tests --benchmark_filter="$filter" | sed 's,/manual_time$,,; s,/iterations:[0-9]*$,,' |
  while read -r name; do
    pattern="^$(printf '%s' "$name" | sed 's/[][\.*^$+?(){}|]/\\&/g')(/|\$)"
    echo "== $name"
    "$out/qemu-i386" -d plugin -plugin "$plugin" "$bench" --benchmark_filter="$pattern" 2>&1 |
      grep '^insncount:' | c++filt
  done
