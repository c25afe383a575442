#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit and
# end-to-end tests, the same tests under AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer, the threaded tests under Valgrind's Helgrind, and each fuzz
# target for a bounded time.  Each stage prints its wall time as it ends.
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc)

# The clock runs from the first start, across the rerun under xvfb-run below.
: "${QX_CI_START:=$(date +%s)}"
export QX_CI_START
stage_name=""
stage_from=$(date +%s)
stage() {
  local now
  now=$(date +%s)
  [ -n "$stage_name" ] && printf '== stage %-18s %5d s\n' "$stage_name" $((now - stage_from))
  stage_name=$1
  stage_from=$now
}
finish() {
  local rc=$? now
  now=$(date +%s)
  if [ $rc -ne 0 ] && [ -n "$stage_name" ]; then
    printf '== stage %-18s failed after %d s\n' "$stage_name" $((now - stage_from))
  fi
  printf '== total %d s\n' $((now - QX_CI_START))
}

if [ -z "${QX_UNDER_XVFB:-}" ]; then
  stage packages
  bash scripts/deps.sh
  # The PostScript tests render pages with ghostscript (tests only).
  if ! command -v gs >/dev/null 2>&1; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    # A machine whose other packages were all present may have no package
    # lists yet: refresh them when the first try fails.
    $SUDO apt-get install -y -q --no-install-recommends ghostscript ||
      { $SUDO apt-get update -y -q && $SUDO apt-get install -y -q --no-install-recommends ghostscript; }
  fi
  stage ""
  # The X11 tests need a display.  Without one the script runs once more under
  # a virtual server of its own, which xvfb-run ends when the script ends,
  # failures included; its status is the script's.  The marker stops a second
  # rerun.  A display that is set is used as it is.
  if [ -z "${DISPLAY:-}" ]; then
    export QX_UNDER_XVFB=1
    # -noreset: the server does not reset (refusing connections meanwhile)
    # each time the last test process leaves.
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$PWD/$(basename "$0")" "$@"
  fi
fi
trap finish EXIT
# Here the X11 tests fail instead of skipping when no display opens.
export QX_REQUIRE_DISPLAY=1
# Native, or under user-mode emulation where the kernel starts no i386 program.
source scripts/i386env.sh
i386=$QX_I386
echo "i386 programs run $i386"

stage build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_DEBUG_INFO=-g0 >/dev/null
cmake --build build -j"$jobs"

stage tests
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 900

# One clang build with AddressSanitizer and UndefinedBehaviorSanitizer serves
# both the sanitizer test run and the fuzz targets.
stage "sanitizer build"
bash scripts/sanbuild.sh

stage "sanitizer tests"
# LeakSanitizer stops the process's threads with ptrace, which user-mode
# emulation does not offer (the check would hang): there leaks go unchecked.
leaks=1
[ "$i386" = emulated ] && leaks=0
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=$leaks LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-san -j"$jobs" --output-on-failure --timeout 900

stage helgrind
# Valgrind runs its own code for the guest and cannot itself run under
# user-mode emulation.
if [ "$i386" = native ]; then
  bash scripts/valgrind.sh build
else
  echo "helgrind: skipped, i386 programs run under user-mode emulation here"
fi

stage fuzz
QX_FUZZ_NO_BUILD=1 bash scripts/fuzz.sh "${QX_FUZZ_SECONDS:-10}"
stage ""
echo "all tests passed"
