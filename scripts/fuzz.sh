#!/usr/bin/env bash
# Builds the fuzz targets with clang (i386, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
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
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQX_FUZZ=ON -DQX_SANITIZE=ON -DQX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)"
mkdir -p build-fuzz/corpus
for src in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/seeds/$name
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  t=$((secs * ${weight[$name]:-1}))
  echo "fuzzing $name for ${t}s"
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    "build-fuzz/tests/fuzz/$name" -max_total_time="$t" -rss_limit_mb=1024 -print_final_stats=0 \
    -artifact_prefix="build-fuzz/$name-" ${extra[$name]:-} \
    "${args[@]}" >"build-fuzz/$name.log" 2>&1 || { tail -50 "build-fuzz/$name.log"; exit 1; }
done
