#!/usr/bin/env bash
# Runs a subset of the test programs under valgrind's memcheck (see tests/README.md for which
# and why): uninitialised reads, invalid accesses and definite leaks fail the run. Not part
# of CI: it takes minutes on two cores.
#   bash scripts/valgrind.sh                       # the subset
#   bash scripts/valgrind.sh platform_tests        # one program
#   VALGRIND_BUILD_DIR=build/valgrind (default); GTEST_FILTER narrows the tests as usual
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh packages-base.txt packages-core.txt
command -v valgrind >/dev/null || {
  [ "$(id -u)" -eq 0 ] && s="" || s=sudo
  $s apt-get update -qq && DEBIAN_FRONTEND=noninteractive $s apt-get install -y -qq --no-install-recommends valgrind
}

build=${VALGRIND_BUILD_DIR:-build/valgrind}
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(platform_tests treeview_tests)
# The normal test build (optimised, with debug information), without sanitizers: valgrind
# needs the plain binary.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDESK_BUILD_TESTS=ON -DDESK_BUILD_EXAMPLES=OFF -DDESK_WITH_QT=OFF \
  >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)" --target "${programs[@]}"

status=0
for p in "${programs[@]}"; do
  bin=$(find "$build/tests" -type f -name "$p" -perm -u+x | head -1)
  echo "== valgrind $p"
  # GLib keeps type registrations and caches for the life of the process ("still reachable",
  # "possibly lost" in its pools): only definite leaks count.
  if ! valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      --show-leak-kinds=definite --track-origins=yes --num-callers=30 --quiet \
      --suppressions=scripts/valgrind.supp "$bin" --gtest_brief=1 >"$build/$p.valgrind.log" 2>&1; then
    tail -80 "$build/$p.valgrind.log"
    status=1
    echo "valgrind: $p FAILED (log: $build/$p.valgrind.log)"
  else
    grep -E "^\[  (PASSED|FAILED)" "$build/$p.valgrind.log" || true
    echo "valgrind: $p clean"
  fi
done
exit $status
