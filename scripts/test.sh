#!/usr/bin/env bash
# The whole test suite, headless: installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer into build/asan, builds the fuzz targets with clang into build/fuzz
# and runs each for a bounded time, then runs every test through ctest under one Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"

# One X server for the widget tests; the GL loader tests need none (EGL surfaceless).
xvfb_log=$(mktemp)
Xvfb -screen 0 1280x1024x24 -nolisten tcp -displayfd 3 3>"$xvfb_log.fd" >"$xvfb_log" 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -f "$xvfb_log" "$xvfb_log.fd"' EXIT
for _ in $(seq 100); do [ -s "$xvfb_log.fd" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$xvfb_log.fd")"

status=0
# The fuzzers run first so that ctest's summary is the last thing printed.
if [ "${VELMORA_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh || status=$?
fi
(cd build/asan && ctest --output-on-failure -j "$jobs") || status=$?
exit "$status"
