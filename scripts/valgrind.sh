#!/usr/bin/env bash
# Runs the threaded tests under Valgrind's Helgrind: every test whose name
# contains "Threads" or "Concurrent" in each test binary of the given build.
# The binaries run side by side, as many at once as there are cores: Helgrind
# runs one thread of a process at a time, so a lone run mostly waits.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rm -f "$build"/helgrind-*.status

run_binary() {
  local bin=$1 filter=$2 name rc=0
  name=$(basename "$bin")
  QX_UNDER_VALGRIND=1 valgrind --tool=helgrind --error-exitcode=3 -q \
    "$bin" --gtest_filter="$filter" >"$build/helgrind-$name.log" 2>&1 || rc=$?
  echo "$rc" >"$build/helgrind-$name.status"
}

par=$(nproc)
bins=()
for bin in "$build"/tests/test_*; do
  [ -x "$bin" ] || continue
  list=$("$bin" --gtest_list_tests | awk '/^[^ ]/{suite=$1} /^  /{print suite $1}' | grep -E 'Threads|Concurrent' || true)
  [ -n "$list" ] || continue
  echo "helgrind: $(basename "$bin"): $(echo "$list" | wc -l) tests"
  while [ "$(jobs -rp | wc -l)" -ge "$par" ]; do wait -n || true; done
  run_binary "$bin" "$(echo "$list" | paste -sd: -)" &
  bins+=("$bin")
done
wait

status=0
for bin in "${bins[@]}"; do
  name=$(basename "$bin")
  if [ "$(cat "$build/helgrind-$name.status" 2>/dev/null)" != 0 ]; then
    echo "== helgrind: $name failed; the end of its log:"
    tail -80 "$build/helgrind-$name.log"
    status=1
  fi
done
exit $status
