#!/usr/bin/env bash
# compare_node.sh NATIVE_BUILD WASM_BUILD: the Node command (WASM_BUILD/web/rokconv-node.mjs)
# against the native program (NATIVE_BUILD/rokconv) on the examples, generated models of every
# kind and damaged ones, in every format, and on inputs that fail: the same exit status, the same
# messages, the same files with the same bytes. Then the binding (rokconv.mjs, through
# binding.mjs) against the native program: the same files, and the same --info and --info --json.
# Prints "N passed, N failed".
set -u
native=$(realpath "$1")
wasm=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
examples=$here/../../examples
gen=$native/tests/support/rokgen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/in"
cp "$examples"/*.rok "$work/in/"
"$gen" grid 400 -o "$work/in/grid.rok"
# past the size where the native program shares the work among threads
"$gen" grid 60000 --seed 2 -o "$work/in/grid-large.rok"
"$gen" grid 300 --eol crlf --preamble --seed 5 -o "$work/in/grid-crlf.rok"
"$gen" ring 7 -o "$work/in/ring.rok"
"$gen" ring 3000 --eol cr -o "$work/in/ring-large.rok"
for kind in $("$gen" damaged --list); do
    "$gen" damaged "$kind" -o "$work/in/damaged-$kind.rok"
done
printf 'not a model\n' >"$work/in/text.rok"

passed=0
failed=0
# runs one side in a folder of its own, so the messages name the same relative paths
run() {
    local dir=$1
    shift
    mkdir -p "$dir"
    (cd "$dir" && "$@" >stdout 2>stderr; echo $? >status)
}
# the same files, output and status from both: a pass, or a failure named by what
same() {
    if diff -r "$work/native/$1" "$work/wasm/$1" >/dev/null; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: $2"
        diff -r "$work/native/$1" "$work/wasm/$1" | head -n 5
    fi
}
check() {
    local name=$1
    shift
    run "$work/native/$name" "$native/rokconv" "$@"
    run "$work/wasm/$name" node "$wasm/web/rokconv-node.mjs" "$@"
    same "$name" "rokconv $*"
}

for file in "$work"/in/*.rok; do
    base=$(basename "$file" .rok)
    for format in lwo obj glb gltf stl; do
        check "$base-$format" -v -f "$format" -o "out-$base" "$file"
    done
done
check info "$work/in/damaged-truncated.rok" --info
check info-json --info --json "$work/in/damaged-edge-range.rok" "$work/in/house.rok"
check standard-output -f glb -o - "$work/in/house.rok"
check missing -f obj -o out "$work/in/no-such-file.rok"
check bad-format -f dxf "$work/in/cube.rok"
# the binding: the same files as the native program writes, beside file included
declare -A beside=([obj]=.mtl [gltf]=.bin)
for file in "$work"/in/*.rok; do
    base=$(basename "$file" .rok)
    [ "$base" = text ] && continue
    for format in lwo obj glb gltf stl; do
        name=binding-$base-$format
        mkdir -p "$work/native/$name" "$work/wasm/$name"
        (cd "$work/native/$name" && "$native/rokconv" -q -f "$format" -o model.x "$file")
        (cd "$work/wasm/$name" && node "$here/binding.mjs" "$wasm" "$format" "$file" model.x \
            ${beside[$format]:+"model${beside[$format]}"})
        same "$name" binding
    done
    for json in '' --json; do
        name=binding-info$json-$base
        mkdir -p "$work/native/$name" "$work/wasm/$name"
        (cd "$work/in" && "$native/rokconv" --info $json "$base.rok") >"$work/native/$name/info"
        (cd "$work/in" && node "$here/binding.mjs" "$wasm" "--info${json:+-json}" "$base.rok") \
            >"$work/wasm/$name/info"
        same "$name" binding
    done
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
