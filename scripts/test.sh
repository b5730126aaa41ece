#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same suite under AddressSanitizer
# and UndefinedBehaviorSanitizer (LeakSanitizer on), then every fuzz target over its kept
# corpus and for FUZZ_SECONDS each (default 45). Installs missing Debian packages first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh packages-base.txt packages-core.txt packages-qt.txt
jobs=$(nproc)
mkdir -p build

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDESK_BUILD_BENCH=OFF "$@" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900)
}

echo "== normal build"
run_suite build/test
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/asan -DDESK_SANITIZE=ON -DDESK_BUILD_EXAMPLES=OFF
echo "== fuzz targets: kept corpus, then ${FUZZ_SECONDS:-45}s each"
FUZZ_SECONDS=${FUZZ_SECONDS:-45} bash scripts/fuzz.sh
