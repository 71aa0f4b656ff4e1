#!/usr/bin/env bash
# The Blender add-on on the 1,000,000-point grid against Blender's own OBJ importer on
# rokconv's OBJ of it, timed in one Blender run (bench/blender_import.py).
#   usage: bench/blender_import.sh [BUILD_DIR] [RUNS]     (defaults: build 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tests/support/rokgen" grid 1000000 -o "$work/grid.rok"
BLENDER_USER_SCRIPTS=$work/scripts blender -b --factory-startup --python-exit-code 1 \
    --python "$root/bench/blender_import.py" -- --zip "$build/blender/io_import_rok.zip" \
    --rokconv "$build/rokconv" --runs "$runs" "$work/grid.rok" 2>&1 |
    grep -E '^(round|median)'
