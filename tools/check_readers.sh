#!/usr/bin/env bash
# Opens rokconv's output in LightWave object readers that this project did not write and
# checks that they see what the ROK file holds.
#
#   tools/check_readers.sh BUILD_DIR
#
# For every examples/*.rok: BUILD_DIR/rokconv converts it in a scratch directory, then
#   - OpenSceneGraph's osgconv (Debian package openscenegraph) turns the .LWO into .osgt text,
#   - the Open Asset Import Library, as the npm package assimpjs under Node.js, turns it into
#     assimp's JSON (tools/reader_assimp.js),
# and tools/reader_compare.py compares both reports with what tools/reader_expect.py reads
# from the ROK file itself (never from rokconv's output): points, faces and line polygons,
# one material per used palette colour named "ROK<index>", its diffuse colour (the mean of
# the palette entry's two RGB triples) and, where the reader shows it, the specular level.
# Then negative controls: the reports of one example compared with another example's
# expectations, and deliberately damaged objects (a colour, a point, a surface name, a face's
# vertex order), must all be caught.
#
# Needs python3, osgconv (apt-get install openscenegraph), node and npm. assimpjs is
# installed here, pinned, into BUILD_DIR/reader-node with npm. ROKCONV_READERS="osgconv"
# or "assimp" limits the run to one reader (default: both).
# Prints one line per example and per control and "check_readers: N passed, N failed" at
# the end; exits 0 only when every check passed.
set -euo pipefail

ASSIMPJS_VERSION=0.0.10

die() {
    echo "check_readers: error: $*" >&2
    exit 2
}

[ $# -eq 1 ] || die "usage: $0 BUILD_DIR"
build=$(cd "$1" 2>/dev/null && pwd) || die "no such build directory: $1"
rokconv=$build/rokconv
[ -x "$rokconv" ] || die "$rokconv is missing: build the project first"
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tools=$src/tools
python=${PYTHON:-python3}
readers=${ROKCONV_READERS:-osgconv assimp}

use_osg=false
use_assimp=false
for r in $readers; do
    case $r in
    osgconv) use_osg=true ;;
    assimp) use_assimp=true ;;
    *) die "unknown reader '$r' in ROKCONV_READERS (osgconv, assimp)" ;;
    esac
done
$use_osg || $use_assimp || die "ROKCONV_READERS names no reader"

command -v "$python" >/dev/null || die "$python not found (apt-get install python3)"
if $use_osg; then
    command -v osgconv >/dev/null || die "osgconv not found (apt-get install openscenegraph)"
fi
assimpjs=$build/reader-node/node_modules/assimpjs
if $use_assimp; then
    command -v node >/dev/null || die "node not found (Node.js is needed for assimpjs)"
    installed=$(node -p "require('$assimpjs/package.json').version" 2>/dev/null || true)
    if [ "$installed" != "$ASSIMPJS_VERSION" ]; then
        command -v npm >/dev/null || die "npm not found (needed to install assimpjs)"
        echo "installing assimpjs@$ASSIMPJS_VERSION into $build/reader-node"
        npm install --prefix "$build/reader-node" --no-audit --no-fund --loglevel=error \
            "assimpjs@$ASSIMPJS_VERSION" >/dev/null ||
            die "npm install assimpjs@$ASSIMPJS_VERSION failed"
    fi
fi

shopt -s nullglob
examples=("$src"/examples/*.rok)
[ ${#examples[@]} -gt 0 ] || die "no examples/*.rok"

work=$(mktemp -d "${TMPDIR:-/tmp}/check_readers.XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
pass() {
    passed=$((passed + 1))
    echo "ok    $*"
}
fail() {
    failed=$((failed + 1))
    echo "FAIL  $*"
}

# read_object LWO OUT_STEM: runs the readers on LWO; fills reader_args with the reports for
# reader_compare.py. Returns 1, with a message in reader_error, when a reader fails.
read_object() {
    local lwo=$1 out=$2
    reader_args=()
    reader_error=
    if $use_osg; then
        # no optimizer: it would merge the geometries of surfaces that share a colour
        if ! OSG_OPTIMIZER=OFF osgconv "$lwo" "$out.osgt" >"$out.osg.log" 2>&1 ||
            [ ! -s "$out.osgt" ]; then
            reader_error="osgconv could not read it: $(tr '\n' ' ' <"$out.osg.log")"
            return 1
        fi
        reader_args+=(--osg "$out.osgt")
    fi
    if $use_assimp; then
        if ! node "$tools/reader_assimp.js" "$assimpjs" "$lwo" "$out.json" 2>"$out.assimp.log"; then
            reader_error="assimp could not read it: $(tr '\n' ' ' <"$out.assimp.log")"
            return 1
        fi
        reader_args+=(--assimp "$out.json")
    fi
}

start=$SECONDS
for rok in "${examples[@]}"; do
    name=${rok##*/}
    stem=${name%.*}
    dir=$work/$stem
    mkdir -p "$dir"
    if ! (cd "$dir" && "$rokconv" "$rok") >"$dir/rokconv.log" 2>&1; then
        fail "$name: rokconv failed: $(tr '\n' ' ' <"$dir/rokconv.log")"
        continue
    fi
    if [ ! -s "$dir/$stem.LWO" ]; then
        fail "$name: rokconv wrote no $stem.LWO"
        continue
    fi
    if ! read_object "$dir/$stem.LWO" "$dir/$stem"; then
        fail "$name: $reader_error"
        continue
    fi
    if report=$("$python" "$tools/reader_compare.py" check "$rok" "${reader_args[@]}" 2>&1); then
        pass "$report"
    else
        fail "$name: the readers disagree with the ROK file:"
        echo "        ${report//$'\n'/$'\n'        }"
    fi
done

# Negative controls: the comparison must notice a wrong model and damaged objects.
control() {
    local what=$1
    shift
    if "$python" "$tools/reader_compare.py" check "$@" >/dev/null 2>&1; then
        fail "control: $what went unnoticed"
    else
        pass "control: $what is caught"
    fi
}
first=${examples[0]##*/}
first=${first%.*}
if [ ${#examples[@]} -gt 1 ] && [ -s "$work/$first/$first.LWO" ]; then
    other=${examples[1]}
    read_object "$work/$first/$first.LWO" "$work/$first/$first" ||
        die "controls: $reader_error"
    control "$first.LWO checked against ${other##*/}" "$other" "${reader_args[@]}"
fi
cube=$src/examples/cube.rok
if [ -s "$work/cube/cube.LWO" ]; then
    kinds="colour point"
    $use_assimp && kinds+=" name"  # osgconv keeps no surface names
    $use_osg && kinds+=" order"    # assimp triangulates, so vertex order is lost there
    for kind in $kinds; do
        bad=$work/cube/bad-$kind
        "$python" "$tools/reader_compare.py" damage "$kind" "$work/cube/cube.LWO" "$bad.LWO" ||
            die "controls: cannot damage cube.LWO ($kind)"
        if read_object "$bad.LWO" "$bad"; then
            control "cube.LWO with a damaged $kind" "$cube" "${reader_args[@]}"
        else
            pass "control: cube.LWO with a damaged $kind is caught ($reader_error)"
        fi
    done
fi

echo "readers: $readers; $((SECONDS - start)) s"
echo "check_readers: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
