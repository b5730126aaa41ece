#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (every library instrumented with ASan and UBSan),
# runs each target over its kept corpus (fuzz/corpus/<target>, the regression inputs), then
# fuzzes it for FUZZ_SECONDS seconds (default 60). New inputs go to the build folder, not to
# the repository. A crash stops the script with the input saved under <build>/artifacts.
#
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh              # every target, 10 minutes each
#   FUZZ_SECONDS=60 bash scripts/fuzz.sh invoke_fuzz   # one target
#   FUZZ_BUILD_DIR=build/fuzz (default)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh packages-base.txt packages-core.txt packages-fuzz.txt

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build/fuzz}
all=(picture_fuzz property_bag_fuzz url_path_fuzz variant_fuzz invoke_fuzz)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

mkdir -p "$build"
export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
# A folder already configured with the fuzz targets (scripts/test.sh's sanitizer build) is used
# as it is; a new one gets the targets and the libraries alone.
if ! grep -q '^DESK_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDESK_FUZZ=ON \
    -DDESK_BUILD_TESTS=OFF -DDESK_BUILD_EXAMPLES=OFF -DDESK_BUILD_BENCH=OFF -DDESK_WITH_QT=OFF \
    >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
passed=0
failed=0
summary=()
for t in "${targets[@]}"; do
  bin="$build/fuzz/$t"
  kept="fuzz/corpus/$t"
  work="$build/corpus/$t"
  mkdir -p "$work" "$build/artifacts"
  echo "== $t: kept corpus"
  if ! "$bin" -runs=0 -timeout=20 "$kept" >"$build/$t.regression.log" 2>&1; then
    tail -40 "$build/$t.regression.log"
    failed=$((failed + 1)); summary+=("$t: a kept input fails"); continue
  fi
  echo "== $t: fuzzing for ${seconds}s"
  if "$bin" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$t-" "$work" "$kept" >"$build/$t.log" 2>&1; then
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/$t.log" | grep -o '[0-9]*$' || echo "?")
    added=$(grep -o 'stat::new_units_added: *[0-9]*' "$build/$t.log" | grep -o '[0-9]*$' || echo "?")
    summary+=("$t: ${execs} executions in ${seconds}s, ${added} new inputs, no crash")
    passed=$((passed + 1))
  else
    tail -60 "$build/$t.log"
    failed=$((failed + 1)); summary+=("$t: CRASH, input in $build/artifacts/")
  fi
done
printf '%s\n' "${summary[@]}"
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
