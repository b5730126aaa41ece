#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds a separate project against it.
set -euo pipefail
build=$1; src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
cmake -S "$src" -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
"$tmp/consumer/consumer" | grep -q "created _VarbelTreeviewControl"
echo "installed package found and used"
