#!/usr/bin/env bash
# Starts the viewer on the demo install: installs what is missing, builds build/release (no
# sanitizers), writes the demo into demo/ when it is not there yet, then runs VelmoraGL from the
# demo's working folder with the demo's Wine prefix standing in for the registry.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display; start it from a desktop session, or headless as: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

bash scripts/install-deps.sh

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVELMORA_SANITIZE=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target VelmoraGL velmora_demo

if [ ! -d demo ]; then
  build/release/tools/demo/velmora_demo "$root/demo" "$root/shader"
fi

cd "$root/demo/work"
echo "run.sh: starting VelmoraGL in $(pwd); the log goes to build/release/app/logs/"
WINEPREFIX="$root/demo/prefix" exec "$root/build/release/app/VelmoraGL"
