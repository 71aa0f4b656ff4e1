#!/usr/bin/env bash
# Opens rokconv's objects in LightWave object readers that this project did not write and checks
# that they see what the ROK file holds (compare.py says how).
#
#   tests/readers/check_readers.sh BUILD_DIR
#
# Converts every examples/*.rok with BUILD_DIR/rokconv and reads the result with OpenSceneGraph's
# osgconv (apt-get install openscenegraph) and with the npm package assimpjs under Node.js, which
# is installed here, pinned, into BUILD_DIR/reader-node. ROKCONV_READERS="osgconv" or "assimp"
# limits the run to one reader. Prints a line per example and per negative control and
# "check_readers: N passed, N failed"; exits 0 only when every check passed, 2 when it cannot run.
set -euo pipefail

ASSIMPJS_VERSION=0.0.10

die() {
    echo "check_readers: error: $*" >&2
    exit 2
}

[ $# -eq 1 ] || die "usage: $0 BUILD_DIR"
build=$(cd "$1" 2>/dev/null && pwd) || die "no such build directory: $1"
[ -x "$build/rokconv" ] || die "$build/rokconv is missing: build the project first"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
python=${PYTHON:-python3}
read -r -a readers <<<"${ROKCONV_READERS:-osgconv assimp}"
[ ${#readers[@]} -gt 0 ] || die "ROKCONV_READERS names no reader"

command -v "$python" >/dev/null || die "$python not found (apt-get install python3)"
assimpjs=$build/reader-node/node_modules/assimpjs
for r in "${readers[@]}"; do
    case $r in
    osgconv)
        command -v osgconv >/dev/null || die "osgconv not found (apt-get install openscenegraph)"
        ;;
    assimp)
        command -v node >/dev/null || die "node not found (Node.js is needed for assimpjs)"
        installed=$(node -p "require('$assimpjs/package.json').version" 2>/dev/null || true)
        if [ "$installed" != "$ASSIMPJS_VERSION" ]; then
            command -v npm >/dev/null || die "npm not found (needed to install assimpjs)"
            echo "installing assimpjs@$ASSIMPJS_VERSION into $build/reader-node"
            npm install --prefix "$build/reader-node" --no-audit --no-fund --loglevel=error \
                "assimpjs@$ASSIMPJS_VERSION" >/dev/null ||
                die "npm install assimpjs@$ASSIMPJS_VERSION failed"
        fi
        ;;
    *) die "unknown reader '$r' in ROKCONV_READERS (osgconv, assimp)" ;;
    esac
done

exec "$python" "$here/compare.py" "$build/rokconv" "$assimpjs" "${readers[@]}"
