#!/usr/bin/env bash
# Runs the threaded tests under Valgrind's Helgrind: every test whose name
# contains "Threads" or "Concurrent" in each test binary of the given build.
# The tests of a binary run in groups of at most sixteen, one process each, and
# the groups side by side, as many at once as there are cores: Helgrind runs
# one thread of a process at a time, so a lone run mostly waits, and one
# binary's tests in one process would make the whole stage wait for it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rm -f "$build"/helgrind-*.status

group=16
run_group() {
  local bin=$1 filter=$2 name=$3 rc=0
  # A group that hangs fails here with its log instead of holding CI to its limit.
  QX_UNDER_VALGRIND=1 timeout 900 valgrind --tool=helgrind --error-exitcode=3 -q \
    "$bin" --gtest_filter="$filter" >"$build/helgrind-$name.log" 2>&1 || rc=$?
  echo "$rc" >"$build/helgrind-$name.status"
}

par=$(nproc)
names=()
for bin in "$build"/tests/test_*; do
  [ -x "$bin" ] || continue
  list=$("$bin" --gtest_list_tests | awk '/^[^ ]/{suite=$1} /^  /{print suite $1}' | grep -E 'Threads|Concurrent' || true)
  [ -n "$list" ] || continue
  echo "helgrind: $(basename "$bin"): $(echo "$list" | wc -l) tests"
  k=0
  while read -r filter; do
    while [ "$(jobs -rp | wc -l)" -ge "$par" ]; do wait -n || true; done
    run_group "$bin" "$filter" "$(basename "$bin")-$k" &
    names+=("$(basename "$bin")-$k")
    k=$((k + 1))
  done < <(echo "$list" | paste -d: $(printf -- '- %.0s' $(seq $group)) | sed 's/:*$//')
done
wait

status=0
for name in "${names[@]}"; do
  if [ "$(cat "$build/helgrind-$name.status" 2>/dev/null)" != 0 ]; then
    echo "== helgrind: $name failed; the end of its log:"
    tail -80 "$build/helgrind-$name.log"
    status=1
  fi
done
exit $status
