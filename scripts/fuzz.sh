#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build/fuzz and runs each on its seed corpus for a bounded time (FUZZ_SECONDS, default 60).
# Any report (crash, leak, sanitizer finding, timeout) fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_FUZZ=ON -DVELMORA_SANITIZE=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build/fuzz --target fuzzers -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
found=0
for target in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  found=1
  name=$(basename "$target")
  seeds="tests/fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  # Listfiles of up to 64 KiB reach the hash tables' growth; the other targets take the length
  # their seeds suggest.
  extra=()
  [ "$name" = fuzz_listfile ] && extra=(-max_len=65536)
  echo "== $name: ${seconds}s on $seeds"
  # New inputs go to a scratch folder; the committed seeds are only read.
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${extra[@]}" \
      -artifact_prefix="build/fuzz/$name-" "$work" "$seeds" 2>"build/fuzz/$name.log"; then
    echo "FAILED: $name (see build/fuzz/$name.log)"
    tail -n 40 "build/fuzz/$name.log"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::average_exec_per_sec" "build/fuzz/$name.log" || true
  rm -rf "$work"
done
[ "$found" = 1 ] || echo "no fuzz targets built"
exit "$status"
