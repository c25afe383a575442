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
# When one architecture's index could not be fetched, a library shared by both
# architectures can stand at a version the other architecture lacks, and the
# resolver gives up. Each library it names is then pinned, for both
# architectures, to the i386 version when the amd64 index has it too.
install_aligned() {
  local pins=() round out names n v inst added
  declare -A seen=()
  for round in $(seq 1 15); do
    if out=$(apt-get install -s --allow-downgrades --no-install-recommends "${need[@]}" "${pins[@]}" 2>&1); then
      echo "installing with versions aligned across architectures: ${pins[*]}"
      $SUDO apt-get install -y -q --allow-downgrades --no-install-recommends "${need[@]}" "${pins[@]}"
      return
    fi
    names=$(printf '%s\n' "$out" | grep -oE '[a-z0-9.+-]+:i386' | sed 's/:i386$//' | sort -u)
    added=0
    for n in $names; do
      [ -n "${seen[$n]:-}" ] && continue
      seen[$n]=1
      v=$(apt-cache policy "$n:i386" | awk '/Candidate:/{print $2}')
      { [ -z "$v" ] || [ "$v" = "(none)" ]; } && continue
      inst=$(dpkg-query -W -f='${Version}' "$n" 2>/dev/null || true)
      [ -z "$inst" ] && continue
      if [ "$inst" = "$v" ] || apt-cache madison "$n" | awk -v v="$v" '$3 == v && /amd64/ {f = 1} END {exit !f}'; then
        pins+=("$n=$v" "$n:i386=$v")
        added=1
      fi
    done
    [ "$added" = 1 ] || break
  done
  printf '%s\n' "$out" >&2
  return 1
}
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # Stale package lists make the first try fail: refresh them and try again.
  # A mirror caught mid-sync fails one index; the others still serve the
  # install, so a second failure is not the end.
  $SUDO apt-get update -y -q ||
    { sleep 5; $SUDO apt-get update -y -q; } || echo "package lists partly refreshed; installing from them"
  $SUDO apt-get install -y -q --no-install-recommends "${need[@]}" ||
    { $SUDO apt-get update -y -q && $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"; } ||
    install_aligned
fi
# The i386 programs must start: natively, or where the kernel has no 32-bit
# support, under user-mode emulation.
bash "$(dirname "$0")/i386exec.sh" setup
