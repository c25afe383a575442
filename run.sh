#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo application.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quenlix_rt
# With a display the windows show on it.
if [ -n "${DISPLAY:-}" ] && [ -z "${QX_UI:-}" ]; then
  export QX_UI=x11
fi
exec ./build/app/quenlix-rt "$@"
