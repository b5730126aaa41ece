#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds separate projects against it: a
# console consumer of the controls, and, when the Qt backend was built, a Qt application that
# asks for the package's Qt component and runs offscreen. Then a Python host uses the installed
# Python package from the prefix, with no path into the source or build tree.
set -euo pipefail
build=$1; src=$(cd "$2" && pwd); with_qt=${3:-OFF}; python=${4:-}; python_dir=${5:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
cmake -S "$src/consumer" -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
"$tmp/consumer/consumer" | grep -q "created _VarbelTreeviewControl"
echo "installed package found and used"
# The libraries carry their major version in their SONAME.
for lib in DeskRuntime VarbelTreeview Quorvane; do
  readelf -d "$tmp/prefix/lib/lib$lib.so" | grep -q "SONAME.*\[lib$lib.so.0\]" || { echo "lib$lib.so: no versioned SONAME"; exit 1; }
done
# A control library installs its entry points' header and nothing of its insides.
for lib in VarbelTreeview Quorvane; do
  [ "$(ls "$tmp/prefix/include/$lib")" = "$lib.h" ] || { echo "include/$lib holds more than $lib.h"; exit 1; }
done
if [ "$with_qt" = ON ]; then
  cmake -S "$src/qt_consumer" -B "$tmp/qt_consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
  cmake --build "$tmp/qt_consumer" >/dev/null
  out=$(QT_QPA_PLATFORM=offscreen "$tmp/qt_consumer/qt_consumer")
  echo "$out"
  grep -q "qt consumer: 1 node, .* text drawn" <<<"$out"
  echo "installed Qt component found and used"
fi
# The Designer plugin, where it was built: installed in Qt's plugin folder under the prefix, it
# loads with no library path (its run path reaches the prefix's libraries).
if [ -f "$build/plugins/designer/libdesk_treeview_designer.so" ] && [ -n "$python" ]; then
  plugin=$(find "$tmp/prefix" -path "*/qt6/plugins/designer/libdesk_treeview_designer.so")
  [ -n "$plugin" ] || { echo "the Designer plugin is not installed under <prefix>/.../qt6/plugins/designer"; exit 1; }
  [ -f "$tmp/prefix/include/desk/treeview_widget.h" ] || { echo "desk/treeview_widget.h is not installed"; exit 1; }
  env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen "$python" - "$plugin" <<'PY'
import sys
from PyQt6.QtCore import QPluginLoader
from PyQt6.QtWidgets import QApplication
app = QApplication([])
loader = QPluginLoader(sys.argv[1])
plugin = loader.instance()
if plugin is None:
    sys.exit("the installed Designer plugin does not load: " + loader.errorString())
if plugin.metaObject().className() != "VarbelTreeviewDesignerPlugin":
    sys.exit("the installed plugin is another: %s" % plugin.metaObject().className())
PY
  echo "installed Designer plugin loads from $plugin"
  # A form with the tree, compiled by uic against the installed package.
  cmake -S "$src/form_consumer" -B "$tmp/form_consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" \
        -DDESK_FORM="$src/../qt/designer/tree_form.ui" >/dev/null
  cmake --build "$tmp/form_consumer" >/dev/null
  out=$(env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen "$tmp/form_consumer/form_consumer")
  echo "$out"
  grep -q "form consumer: PathSeparator /, Indentation 300, Checkboxes on" <<<"$out"
fi
if [ -n "$python" ]; then
  case $python_dir in /*) ;; *) python_dir=$tmp/prefix/$python_dir ;; esac
  # The compiled path is installed whenever the build made it.
  with_ext=OFF
  compgen -G "$build/python/desk/_ext*.so" >/dev/null && with_ext=ON
  out=$(cd "$tmp" && env -u LD_LIBRARY_PATH PYTHONPATH="$python_dir" QT_QPA_PLATFORM=offscreen \
        "$python" "$src/python_consumer.py" "$tmp/prefix" "$with_qt" "$with_ext")
  echo "$out"
  grep -q "python consumer: the libraries came from the prefix" <<<"$out"
  # Typed: the marker and the stubs go with the package.
  for f in py.typed __init__.pyi typelib.pyi; do
    [ -f "$python_dir/desk/$f" ] || { echo "desk/$f is not installed"; exit 1; }
  done
  echo "installed Python package found and used"
fi
