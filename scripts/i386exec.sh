#!/usr/bin/env bash
# The program and its tests are i386 programs.  Some x86-64 kernels are built
# or booted without 32-bit support and refuse to start them ("Exec format
# error").  There they run under QEMU's user-mode emulation, registered with
# the kernel's binfmt_misc, so that every i386 program starts as it does on a
# machine that runs it natively.
#   i386exec.sh setup   makes i386 programs start, installing what it needs
#   i386exec.sh mode    prints "native" or "emulated"
set -euo pipefail
cmd=${1:-mode}
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
# qemu-user answers uname() with the guest's machine; a native i386 process
# on an x86-64 kernel sees x86_64.
printf '#include <stdio.h>\n#include <sys/utsname.h>\nint main(void){struct utsname u;if(uname(&u))return 1;puts(u.machine);return 0;}\n' \
  >"$probe_dir/probe.c"
gcc -m32 -o "$probe_dir/probe" "$probe_dir/probe.c"

machine() { "$probe_dir/probe" 2>/dev/null; }

if [ "$cmd" = mode ]; then
  m=$(machine) || { echo "i386 programs do not start on this machine" >&2; exit 1; }
  if [ "$m" = x86_64 ]; then echo native; else echo emulated; fi
  exit 0
fi

machine >/dev/null && exit 0
echo "this kernel does not start i386 programs: registering QEMU's user-mode emulation for them"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if [ ! -x /usr/bin/qemu-i386-static ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get install -y -q --no-install-recommends qemu-user-static ||
    { $SUDO apt-get update -y -q && $SUDO apt-get install -y -q --no-install-recommends qemu-user-static; }
fi
bm=/proc/sys/fs/binfmt_misc
[ -e "$bm/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$bm"
# Debian registers no i386 handler on amd64 machines; this is QEMU's own
# pattern for i386 executables and shared-object executables.  F opens the
# interpreter now, so that it serves every mount namespace.
if [ ! -e "$bm/qemu-i386" ]; then
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $SUDO tee "$bm/register" >/dev/null
fi
machine >/dev/null || { echo "i386 programs still do not start" >&2; exit 1; }
