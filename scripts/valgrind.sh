#!/usr/bin/env bash
# Runs the threaded tests under Valgrind's Helgrind: every test whose name
# contains "Threads" or "Concurrent" in each test binary of the given build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
status=0
for bin in "$build"/tests/test_*; do
  [ -x "$bin" ] || continue
  list=$("$bin" --gtest_list_tests | awk '/^[^ ]/{suite=$1} /^  /{print suite $1}' | grep -E 'Threads|Concurrent' || true)
  [ -n "$list" ] || continue
  filter=$(echo "$list" | paste -sd: -)
  echo "helgrind: $(basename "$bin"): $(echo "$list" | wc -l) tests"
  if ! QX_UNDER_VALGRIND=1 valgrind --tool=helgrind --error-exitcode=3 -q \
        "$bin" --gtest_filter="$filter" >"$build/helgrind-$(basename "$bin").log" 2>&1; then
    tail -80 "$build/helgrind-$(basename "$bin").log"
    status=1
  fi
done
exit $status
