#!/usr/bin/env bash
# Builds and runs the demo host (the main job). Installs missing Debian packages first.
# Arguments are passed to the demo host (see examples/README or --help).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh packages-base.txt packages-core.txt packages-qt.txt
mkdir -p build
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DDESK_BUILD_TESTS=OFF >build/demo.configure.log 2>&1 \
  || { cat build/demo.configure.log; exit 1; }
cmake --build build/demo -j"$(nproc)" --target demo_host
exec build/demo/examples/demo_host "$@"
