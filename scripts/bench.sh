#!/usr/bin/env bash
# Builds every benchmark program (RelWithDebInfo: -O2, as the tests are built; GCC 12 at -O3
# reports a false -Wrestrict in libstdc++ string code), runs each with JSON output into bench/results/,
# and writes bench/REPORT.md: each figure as a ratio against its baseline from the same run.
#   bash scripts/bench.sh                 # all programs
#   BENCH_FILTER=Sorted bash scripts/bench.sh   # passed to --benchmark_filter
#   BENCH_BUILD_DIR=build/bench (default)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh packages-base.txt packages-core.txt packages-fuzz.txt

build=${BENCH_BUILD_DIR:-build/bench}
results=bench/results
mkdir -p "$build" "$results"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDESK_BUILD_BENCH=ON -DDESK_BUILD_TESTS=OFF \
  -DDESK_BUILD_EXAMPLES=OFF -DDESK_WITH_QT=AUTO ${launcher[@]+"${launcher[@]}"} >"$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }
# The programs are the bench/*.cpp files that bench/CMakeLists.txt builds in this
# configuration (qt_tree_bench only when Qt 6 is found).
targets=$(cmake --build "$build" --target help)
programs=()
for src in bench/*_bench.cpp; do
  name=$(basename "$src" .cpp)
  grep -q "add_executable($name " bench/CMakeLists.txt && grep -Eq "(^|\\.\\.\\. )$name(:|\$)" <<<"$targets" \
    && programs+=("$name")
done
# The Python package's extension, for the Python programs, where Python's headers are found, and the
# control libraries, which the Python programs load by name.
extension=()
grep -Eq "(^|\.\.\. )desk_ext(:|\$)" <<<"$targets" && extension=(desk_ext)
cmake --build "$build" -j"$(nproc)" --target "${programs[@]}" VarbelTreeview Quorvane ${extension[@]+"${extension[@]}"}

rm -f "$results"/*.json
for p in "${programs[@]}"; do
  echo "== $p"
  QT_QPA_PLATFORM=offscreen "$build/bench/$p" --benchmark_format=console --benchmark_out_format=json \
    --benchmark_out="$results/$p.json" ${BENCH_FILTER:+--benchmark_filter="$BENCH_FILTER"}
done
# The Python programs, over the libraries just built and the package's extension (Debian's
# interpreter when there is one).
py=python3
[ -x /usr/bin/python3 ] && py=/usr/bin/python3
case $build in /*) libs=$build ;; *) libs=$top/$build ;; esac
for src in bench/*_bench.py; do
  [ -f "$src" ] || continue
  name=$(basename "$src" .py)
  echo "== $name"
  LD_LIBRARY_PATH="$libs/treeview:$libs/webimagelist:$libs/platform:$libs/platform/qt${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    PYTHONPATH="$libs/python${PYTHONPATH:+:$PYTHONPATH}" "$py" "$src" "$results/$name.json"
done
python3 bench/report.py "$results" bench/REPORT.md
echo "wrote bench/REPORT.md"
