#!/usr/bin/env bash
# Builds and runs the demo host (the main job). Installs missing Debian packages first.
#
# With the Qt backend (the default), the demo opens as a window: a tree control whose node
# pictures come from a web image list filled from the demo's own local picture server, a
# context menu on right-click, the chosen item and the node hit in the status line, settings
# saved on exit and restored at start. Without a display it runs on Qt's offscreen platform,
# writes a screenshot and prints its path.
#   DEMO=console bash scripts/demo.sh   runs the console host instead (headless platform).
# Other arguments are passed to the demo program (--screenshot FILE, --settings FILE, ...).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh packages-base.txt packages-core.txt packages-qt.txt
mkdir -p build
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DDESK_BUILD_TESTS=OFF >build/demo.configure.log 2>&1 \
  || { cat build/demo.configure.log; exit 1; }
if [ "${DEMO:-window}" != console ] && cmake --build build/demo --target help | grep -q '\bdemo_window\b'; then
  cmake --build build/demo -j"$(nproc)" --target demo_window
  exec build/demo/demo_window "$@"
fi
cmake --build build/demo -j"$(nproc)" --target demo_host
exec build/demo/examples/demo_host "$@"
