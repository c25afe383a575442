#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, as many at once as there are
# cores; the targets come from the sanitizer build (scripts/sanbuild.sh), which
# is built first unless QX_FUZZ_NO_BUILD is set.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-10}
# Targets that read whole untrusted files run longer: this many times the
# given time (the resource-file reader gets 30 s at the default 10).
declare -A weight=([rsrc_fuzz]=3 [unflatten_fuzz]=3 [datalog_fuzz]=3)
# Options of single targets: readers of flat data run under a malloc limit.
declare -A extra=([unflatten_fuzz]="-malloc_limit_mb=64" [dsinflate_fuzz]="-malloc_limit_mb=64" [viload_fuzz]="-malloc_limit_mb=64" [datalog_fuzz]="-malloc_limit_mb=64")
if ! ls tests/fuzz/*_fuzz.cpp >/dev/null 2>&1; then
  echo "no fuzz targets"; exit 0
fi
[ -n "${QX_FUZZ_NO_BUILD:-}" ] || bash scripts/sanbuild.sh
source scripts/i386env.sh
out=build-san/fuzz
mkdir -p "$out/corpus"
rm -f "$out"/*.status

run_target() {
  local name=$1 t=$2 corpus=$out/corpus/$1 seeds=tests/fuzz/seeds/$1 rc=0
  mkdir -p "$corpus"
  local args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  # shellcheck disable=SC2086
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    "build-san/tests/fuzz/$name" -max_total_time="$t" -rss_limit_mb=1024 -print_final_stats=0 \
    -artifact_prefix="$out/$name-" ${extra[$name]:-} \
    "${args[@]}" >"$out/$name.log" 2>&1 || rc=$?
  echo "$rc" >"$out/$name.status"
  echo "fuzzed $name for ${t}s: $([ "$rc" -eq 0 ] && echo clean || echo "FAILED ($rc)")"
}

# Longest first, so that the last targets to start are short ones.
list=()
for src in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  list+=("$((secs * ${weight[$name]:-1})) $name")
done
par=$(nproc)
while read -r t name; do
  while [ "$(jobs -rp | wc -l)" -ge "$par" ]; do wait -n || true; done
  run_target "$name" "$t" &
done < <(printf '%s\n' "${list[@]}" | sort -rn)
wait

status=0
for src in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  if [ "$(cat "$out/$name.status" 2>/dev/null)" != 0 ]; then
    echo "== $name failed; the end of its log:"
    tail -50 "$out/$name.log"
    status=1
  fi
done
exit $status
