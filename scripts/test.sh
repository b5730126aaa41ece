#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same suite under AddressSanitizer
# and UndefinedBehaviorSanitizer (LeakSanitizer on), then the tests of the code that runs on
# several threads (the HTTP client's transfers, the picture decoders, the Fill that waits for
# them: platform_http_tests, platform_pictures_tests, webimagelist_tests) under
# ThreadSanitizer, then every fuzz target over its kept corpus and for FUZZ_SECONDS each
# (default 45). Installs missing Debian packages first.
# Warnings are errors here (DESK_WERROR), as in CI; a user's own build never fails on one.
# The sanitizer build is made with clang and also holds the fuzz targets, so that the
# libraries are instrumented and compiled once for both stages.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh packages-base.txt packages-core.txt packages-qt.txt packages-fuzz.txt
# pyright, a test-only type checker from the npm registry, for the Python stubs' test: into
# build/tools, where the build finds it; without npm (or the registry) that test runs mypy alone.
if command -v npm >/dev/null && [ ! -x build/tools/node_modules/.bin/pyright ]; then
  npm install --prefix build/tools --no-audit --no-fund --silent pyright@1.1.414 >/dev/null 2>&1 \
    || echo "test.sh: pyright could not be installed from npm: the stubs are checked by mypy alone"
fi
jobs=$(nproc)
# ccache (when installed) shares compiled objects between clones and build folders.
export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
mkdir -p build

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDESK_BUILD_BENCH=OFF -DDESK_WERROR=ON "$@" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900)
}

echo "== normal build"
run_suite build/test
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build (clang, with the fuzz targets)"
CC=clang CXX=clang++ ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/asan -DDESK_SANITIZE=ON -DDESK_FUZZ=ON -DDESK_BUILD_EXAMPLES=OFF
echo "== ThreadSanitizer build (clang; the threaded code's tests only)"
CC=clang CXX=clang++ cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDESK_BUILD_BENCH=OFF -DDESK_WERROR=ON \
  -DDESK_TSAN=ON -DDESK_WITH_QT=OFF -DDESK_BUILD_EXAMPLES=OFF >build/tsan.configure.log 2>&1 \
  || { cat build/tsan.configure.log; exit 1; }
cmake --build build/tsan -j"$jobs" --target platform_http_tests platform_pictures_tests webimagelist_tests
for program in platform/http/platform_http_tests platform/pictures/platform_pictures_tests webimagelist/webimagelist_tests; do
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "build/tsan/tests/$program"
done
echo "== fuzz targets: kept corpus, then ${FUZZ_SECONDS:-45}s each"
FUZZ_BUILD_DIR=build/asan FUZZ_SECONDS=${FUZZ_SECONDS:-45} bash scripts/fuzz.sh
