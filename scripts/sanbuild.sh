#!/usr/bin/env bash
# Builds build-san with clang: the libraries, the tests and the fuzz targets,
# all with AddressSanitizer and UndefinedBehaviorSanitizer, the libraries with
# libFuzzer's coverage as well.  The sanitizer test run and the fuzz run share it.
set -euo pipefail
cd "$(dirname "$0")/.."
# A build folder configured with another compiler is started afresh.
if [ -f build-san/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' build-san/CMakeCache.txt; then
  rm -rf build-san
fi
# The build runs some of what it builds.
source scripts/i386env.sh
CC=clang CXX=clang++ cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQX_SANITIZE=ON -DQX_FUZZ=ON -DQX_BENCH=OFF >/dev/null
cmake --build build-san -j"$(nproc)"
