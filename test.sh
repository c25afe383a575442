#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit and
# end-to-end tests, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# the threaded tests under Valgrind, and each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")"
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
# The X11 tests need a display.  Without one the script runs once more under
# a virtual server of its own, which xvfb-run ends when the script ends,
# failures included; its status is the script's.  The marker stops a second
# rerun.  A display that is set is used as it is.
if [ -z "${DISPLAY:-}" ] && [ -z "${QX_UNDER_XVFB:-}" ]; then
  export QX_UNDER_XVFB=1
  # -noreset: the server does not reset (refusing connections meanwhile)
  # each time the last test process leaves.
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$PWD/$(basename "$0")" "$@"
fi
# Here the X11 tests fail instead of skipping when no display opens.
export QX_REQUIRE_DISPLAY=1
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 900

cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_SANITIZE=ON -DQX_BENCH=OFF >/dev/null
cmake --build build-san -j"$jobs"
ASAN_OPTIONS=allocator_may_return_null=1 LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-san -j"$jobs" --output-on-failure --timeout 900

bash scripts/valgrind.sh build
bash scripts/fuzz.sh "${QX_FUZZ_SECONDS:-10}"
echo "all tests passed"
