#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo application.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quenlix qxdemobuild
# The demo: the program with a VI library holding Demo.vi appended.
./build/app/qxdemobuild build/app/quenlix build/app/quenlix-demo >/dev/null
# With a display the demo's window shows on it until it is closed.
if [ -n "${DISPLAY:-}" ] && [ -z "${QX_UI:-}" ]; then
  export QX_UI=x11
fi
if [ "${QX_UI:-}" = x11 ]; then
  exec ./build/app/quenlix-demo "$@"
fi
# Without one it runs headless: once the demo has run and nothing is left to
# do, its panel is written as a PNG and the program quits.
png="$PWD/build/demo-panel.png"
script="$PWD/build/demo-script.txt"
printf 'wait\nsnapshot-window "Demo.vi" "%s"\nquit\n' "$png" >"$script"
rm -f "$png"
QX_UI=headless QX_INPUT_SCRIPT="$script" ./build/app/quenlix-demo "$@"
echo "the demo's panel: $png"
