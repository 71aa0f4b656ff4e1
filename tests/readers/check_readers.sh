#!/usr/bin/env bash
# Opens rokconv's LightWave, OBJ, glTF and STL files in readers that this project did not write
# and checks that they see what the ROK file holds (compare.py says how).
#
#   tests/readers/check_readers.sh BUILD_DIR
#
# Uses BUILD_DIR/rokconv and BUILD_DIR/tests/support/rokgen. The readers: osgconv (apt-get install
# openscenegraph), admesh (apt-get install admesh), Blender (apt-get install blender
# python3-numpy), and under Node.js the npm packages below, installed here, pinned, into
# BUILD_DIR/reader-node. ROKCONV_READERS (default "osgconv assimp blender validator admesh") limits
# the run to some of them. Prints a line per check and "check_readers: N passed, N failed"; exits
# 0 only when every check passed, 2 when it cannot run.
set -euo pipefail

NODE_PACKAGES="assimpjs@0.0.10 gltf-validator@2.0.0-dev.3.10"

die() {
    echo "check_readers: error: $*" >&2
    exit 2
}

[ $# -eq 1 ] || die "usage: $0 BUILD_DIR"
build=$(cd "$1" 2>/dev/null && pwd) || die "no such build directory: $1"
[ -x "$build/rokconv" ] && [ -x "$build/tests/support/rokgen" ] ||
    die "$build/rokconv or $build/tests/support/rokgen is missing: build the project first"
python=${PYTHON:-python3}
read -r -a readers <<<"${ROKCONV_READERS:-osgconv assimp blender validator admesh}"
[ ${#readers[@]} -gt 0 ] || die "ROKCONV_READERS names no reader"
command -v "$python" >/dev/null || die "$python not found (apt-get install python3)"
modules=$build/reader-node/node_modules
for r in "${readers[@]}"; do
    case $r in
    osgconv) command -v osgconv >/dev/null || die "no osgconv (apt-get install openscenegraph)" ;;
    admesh) command -v admesh >/dev/null || die "no admesh (apt-get install admesh)" ;;
    blender)
        PATH=/usr/bin:$PATH blender -b --factory-startup --python-exit-code 1 \
            --python-expr "import numpy" >/dev/null 2>&1 ||
            die "Blender or its numpy is missing (apt-get install blender python3-numpy)"
        ;;
    assimp | validator)
        command -v node >/dev/null || die "node not found (Node.js is needed for $r)"
        for pkg in $NODE_PACKAGES; do
            installed=$(node -p "require('$modules/${pkg%@*}/package.json').version" \
                2>/dev/null) || :
            [ "$installed" = "${pkg##*@}" ] && continue
            echo "installing $pkg into $build/reader-node"
            npm install --prefix "$build/reader-node" --no-audit --no-fund --loglevel=error \
                "$pkg" >/dev/null || die "npm install $pkg failed (is npm installed?)"
        done
        ;;
    *) die "unknown reader '$r' in ROKCONV_READERS (osgconv, assimp, blender, validator, admesh)" ;;
    esac
done

exec "$python" "$(dirname "${BASH_SOURCE[0]}")/compare.py" "$build/rokconv" "$modules" \
    "${readers[@]}"
