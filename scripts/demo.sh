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
# Compiled objects are shared between clones and build folders through ccache when present.
export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DDESK_BUILD_TESTS=OFF >build/demo.configure.log 2>&1 \
  || { cat build/demo.configure.log; exit 1; }
# The window needs the Qt backend, which is built when Qt 6 is found. The target list is read
# from a file: grep -q on a pipe would stop the listing early and fail the pipeline.
cmake --build build/demo --target help >build/demo.targets
if [ "${DEMO:-window}" != console ] && grep -qw demo_window build/demo.targets; then
  cmake --build build/demo -j"$(nproc)" --target demo_window
  exec build/demo/examples/demo_window "$@"
fi
[ "${DEMO:-window}" = console ] || echo "demo.sh: the Qt backend is not built (Qt 6 not found): running the console host"
cmake --build build/demo -j"$(nproc)" --target demo_host
exec build/demo/examples/demo_host "$@"
