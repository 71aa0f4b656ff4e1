#!/usr/bin/env bash
# The program as a user meets it: messages, exit statuses, and the files it leaves.
# usage: cli_test.sh ROKCONV EXAMPLES_DIR IO_FAULTS_LIBRARY ROKGEN
set -u
rokconv=$(realpath "$1")
examples=$(realpath "$2")
io_faults=$(realpath "$3")
rokgen=$(realpath "$4")
work=$(mktemp -d)
errors=$(mktemp)
trap 'rm -rf "$work" "$errors"' EXIT
cd "$work" || exit 1
umask 022
failures=0
passed=0

# expect NAME STATUS STDOUT_PATTERN -- command...
expect() {
    local name=$1 status=$2 pattern=$3
    shift 4
    local out rc
    out=$("$@" 2>"$errors")
    rc=$?
    if [ "$rc" != "$status" ] || ! grep -Eq -- "$pattern" <<<"$out" || [ -s "$errors" ]; then
        echo "FAIL $name: status $rc (want $status), stdout: $out, stderr: $(cat "$errors")"
        failures=$((failures + 1))
    else
        passed=$((passed + 1))
    fi
}
check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL $name"; failures=$((failures + 1)); fi
}

usage='^usage: rokconv \[OPTIONS\] FILE\.\.\.'
expect "no argument" 1 "$usage" -- "$rokconv"
expect "help" 0 '^rokconv [0-9.]+ - ' -- "$rokconv" --help
expect "short help" 0 "$usage" -- "$rokconv" -h
expect "version" 0 '^rokconv [0-9]+\.[0-9]+\.[0-9]+$' -- "$rokconv" --version
check "wrong counts touch nothing" test -z "$(ls -A)"

expect "missing file" 1 '^could not open: no/such\.rok$' -- "$rokconv" no/such.rok
check "error occured follows" test "$("$rokconv" no/such.rok)" = $'could not open: no/such.rok\nerror occured.'

mkdir adir.rok
expect "directory" 1 '^could not read: adir\.rok$' -- "$rokconv" adir.rok
check "directory makes no output" test ! -e adir.LWO

printf 'not a model\n' >plain.txt
expect "not a ROK file" 0 '^$' -- "$rokconv" plain.txt
check "not a ROK file makes no output" test ! -e plain.LWO

# a path in another folder converts into the current directory
mkdir -p in/sub out
cp "$examples/cube.rok" in/sub/Cube.Rok
(cd out && "$rokconv" ../in/sub/Cube.Rok >../stdout)
check "converts silently" test ! -s stdout
check "output in the current directory" test -f out/Cube.LWO -a ! -e in/sub/Cube.LWO
check "output is a FORM LWOB" test "$(head -c 4 out/Cube.LWO)$(tail -c +9 out/Cube.LWO | head -c 4)" = FORMLWOB
check "plain create permissions" test "$(stat -c %a out/Cube.LWO)" = 644

# a file named like an option is given as a path, or after --
cp "$examples/cube.rok" ./--help
expect "option-like name" 0 '^$' -- "$rokconv" ./--help
check "option-like name converted" test -f ./--help.LWO
expect "a name after --" 0 '^$' -- "$rokconv" -d in -- --help
check "converted after --" test -f in/--help.LWO

# an earlier output survives a failed run (disk_test has it replaced by good ones): a file size
# limit makes the write fail
echo old >cube.LWO
out=$(ulimit -f 0; "$rokconv" "$examples/cube.rok")
check "write failure: status, message, earlier output kept" \
    test "$?:$out:$(cat cube.LWO)" = $'1:could not write: cube.LWO\nerror occured.:old'

# a close that fails (the last data reaching the disk only then) is reported the same way; the
# sanitizers' runtime must come first, so not under them
if ! nm "$rokconv" 2>/dev/null | grep -q __asan_init; then
    out=$(ROKCONV_TEST_FAIL_CLOSE=1 LD_PRELOAD=$io_faults "$rokconv" "$examples/cube.rok")
    check "close failure reported, earlier output kept" \
        test "$?:$out:$(cat cube.LWO)" = $'1:could not write: cube.LWO\nerror occured.:old'
fi

# the other formats: named after the input, written the same safe way, silently
mkdir formats && cd formats || exit 1
expect "obj" 0 '^$' -- "$rokconv" -f obj "$examples/cube.rok"
check "obj and mtl written, the obj naming its mtl" \
    test "$(head -n 2 cube.obj)$(head -c 9 cube.mtl)" = $'# rokconv\nmtllib cube.mtl# rokconv'
expect "glb" 0 '^$' -- "$rokconv" --format glb "$examples/cube.rok"
check "glb written" test "$(head -c 4 cube.glb)" = glTF
expect "gltf" 0 '^$' -- "$rokconv" --format=gltf "$examples/cube.rok"
check "gltf names its bin, which is written" test -s cube.bin -a -n "$(grep '"uri": "cube.bin"' cube.gltf)"
expect "unknown format" 1 '^unknown format: ply$' -- "$rokconv" -f ply "$examples/cube.rok"
expect "format without a file" 1 "$usage" -- "$rokconv" -f obj
expect "unknown option" 1 '^unknown option: -x$' -- "$rokconv" -x "$examples/cube.rok"
# neither file of a pair is replaced unless both can be: the mtl's name is taken by a folder
echo old >cube.obj && rm cube.mtl && mkdir cube.mtl
out=$("$rokconv" -f obj "$examples/cube.rok")
check "pair refused" test "$?:$out" = $'1:could not create: cube.mtl\nerror occured.'
check "the obj of a refused pair kept" test "$(cat cube.obj)" = old
out=$(ulimit -f 0; "$rokconv" -f gltf "$examples/cube.rok")
check "a write failure keeps both" test "$?:$out:$(cat cube.gltf | head -c 1)" = $'1:could not write: cube.gltf\nerror occured.:{'
rmdir cube.mtl && echo old >cube.mtl
out=$(ulimit -f 0; "$rokconv" -f obj "$examples/cube.rok")
check "OBJ text written as it is made: a failure keeps both" \
    test "$?:$out:$(cat cube.obj cube.mtl)" = $'1:could not write: cube.obj\nerror occured.:old\nold'
echo old >cube.glb
out=$(ulimit -f 0; "$rokconv" -f glb "$examples/cube.rok")
check "glb written as it is made: a failure keeps the earlier file" \
    test "$?:$out:$(cat cube.glb)" = $'1:could not write: cube.glb\nerror occured.:old'
cd .. || exit 1

# an output name taken by a directory cannot be created
mkdir taken.LWO
cp "$examples/cube.rok" taken.rok
expect "uncreatable output" 1 '^could not create: taken\.LWO$' -- "$rokconv" taken.rok

# an unwritable current directory (root may write anywhere on disk, but not in /proc)
out=$(cd /proc && "$rokconv" "$examples/cube.rok")
check "unwritable directory" test "$out" = $'could not create: cube.LWO\nerror occured.'

# a model too large for the memory the process may use: 2.5 million empty point records in
# 20 MB would take 60 MB (the sanitizers reserve far more address space, so not under them)
if ! nm "$rokconv" 2>/dev/null | grep -q __asan_init; then
    { printf 'ROKU4\nPOINT\n'; head -c 20000000 /dev/zero | tr '\0' '\n'; } >huge.rok
    out=$(ulimit -v 40000 && "$rokconv" huge.rok)
    check "model too large" test "$?:$out" = $'1:not enough memory: huge.rok\nerror occured.'
    check "no output for a model too large" test ! -e huge.LWO
    rm -f huge.rok

    # The reader sizes a table from how much input is left. 3000 points ahead of 40 MB of
    # ignored lines look like the start of 3 million, more than the limit allows to set aside;
    # the table then grows as it goes, and the model, which fits, converts.
    {
        printf 'ROKU4\nPOINT\n'
        for _ in $(seq 3000); do printf '0\n0\n0\n0\n0\n1\n2\n3\n'; done
        printf 'LINE0\nFACE0\nEND00\n'
        yes "$(printf '%079d' 0)" | head -c 40000000
    } >sparse.rok
    out=$(ulimit -v 40000 && "$rokconv" sparse.rok)
    check "a reservation too large is not a failure" test "$?:$out" = "0:"
    check "all points of it kept: 36 bytes and 12 a point" test "$(stat -c %s sparse.LWO)" = 36036
    rm -f sparse.rok sparse.LWO
fi

# ---- several files in one run ------------------------------------------------------------
mkdir batch && cd batch || exit 1
mkdir in
cp "$examples"/*.rok in/
for kind in $("$rokgen" damaged --list); do "$rokgen" damaged "$kind" --eol crlf -o "in/$kind.rok"; done
"$rokgen" grid 3000 -o in/grid.rok
"$rokgen" ring 500 -o in/ring.rok
printf 'not a model\n' >in/plain.rok
# a face of edges 1 and 9 (no edge 9), a face of -2 edges, a face whose edges make two rings,
# a face in colour 7 (no palette entry), a line over edge 5, the file cut inside the palette
printf '%s\n' ROKU4 POINT 0 0 0 0 0 1 2 3 0 0 0 0 0 4 5 6 0 0 0 0 0 7 8 9 LINE0 \
    1 2 0 0 2 3 0 0 3 1 0 0 1 4 0 0 FACE0 2 0 0 1 9 -2 0 0 3 0 0 1 2 3 4 1 0 1 2 3 4 3 7 0 \
    1 2 3 END00 LINE2 5 0 0 0 ENDL2 PALC0 1 0 255 >in/damaged.rok
files=(in/*.rok)
for format in lwo obj glb; do
    mkdir "one-$format" "j1-$format" "j2-$format"
    (cd "one-$format" && for f in "${files[@]}"; do "$rokconv" -f $format "../$f"; done) >"one-$format.out"
    "$rokconv" -f $format -d "j1-$format" "${files[@]}" >"j1-$format.out"
    "$rokconv" -f $format -d "j2-$format/" -j 2 "${files[@]}" >"j2-$format.out"
    check "$format: one run gives the files of one run per file" diff -r "one-$format" "j1-$format"
    check "$format: and so does -j 2" diff -qr "one-$format" "j2-$format"
    check "$format: messages alike" cmp -s "j1-$format.out" "j2-$format.out"
done
check "a batch writes outputs for the ROK files only" test "$(ls j2-obj | wc -l)" = $(((${#files[@]} - 1) * 2))
out=$("$rokconv" -d j1-lwo in/cube.rok missing.rok in/house.rok 2>&1)
check "a failed file among others: its messages, and the others go on" \
    test "$?:$out" = $'1:could not open: missing.rok\nerror occured.'
mkdir again && cp in/cube.rok again/
out=$("$rokconv" -d j1-lwo -f obj in/cube.rok again/cube.rok 2>&1)
check "one name twice in a run" test "$?:$out" = $'1:output name used twice: j1-lwo/cube.obj\nerror occured.'
expect "a missing folder" 1 '^no such folder: nowhere$' -- "$rokconv" -d nowhere in/cube.rok
check "nothing converted for it" test ! -e cube.LWO

# standard input and output
"$rokconv" - <in/house.rok
check "- reads standard input into stdin.LWO" cmp -s stdin.LWO one-lwo/house.LWO
"$rokconv" -o - in/house.rok >house.out
check "-o - writes standard output" cmp -s house.out one-lwo/house.LWO
"$rokconv" -o - -f glb - <in/house.rok >house.glb.out
check "-o - -f glb from standard input" cmp -s house.glb.out one-glb/house.glb
out=$("$rokconv" -o - in/grid.rok 2>&1 >/dev/full)
check "a failed write to standard output" test "$?:$out" = $'1:could not write: -\nerror occured.'
"$rokconv" -o - in/grid.rok 2>../pipe.err | head -c 1 >/dev/null
check "a closed pipe: could not write, status 1, no signal" \
    test "${PIPESTATUS[0]}:$(cat ../pipe.err)" = $'1:could not write: -\nerror occured.'
"$rokconv" -o named.GLB in/house.rok && "$rokconv" -o sub.obj in/house.rok
check "-o: the extension chooses the format" cmp -s named.GLB one-glb/house.glb
check "-o PATH.obj puts its mtl beside it" grep -qx 'mtllib sub.mtl' sub.obj
expect "-o with an unknown extension" 1 '^unknown output extension: \.foo ' -- "$rokconv" -o x.foo in/house.rok
expect "-o with two files" 1 '^-o names the output of one FILE' -- "$rokconv" -o x.lwo in/house.rok in/cube.rok
expect "-o - with a pair of files" 1 '^-o - writes one file' -- "$rokconv" -o - -f obj in/house.rok

# what a damaged file lost
out=$("$rokconv" --info in/damaged.rok in/plain.rok)
check "--info: counts" grep -qx 'in/damaged.rok: a ROK model of 3 points, 4 edges, 3 faces, 0 lines and 1 palette entries' <<<"$out"
check "--info: cut short" grep -qx 'in/damaged.rok: cut short: the file ends inside the palette block, at line 82' <<<"$out"
check "--info: repairs" test "$(grep -c 'first at line' <<<"$out")" -ge 4
check "--info: not ROK" grep -qx 'in/plain.rok: not a ROK file' <<<"$out"
"$rokconv" --info in/house.rok >/dev/full
check "--info: a report that cannot be written is a failure" test $? = 1
check "--info writes nothing" test -z "$(ls | grep -v -e '^in$' -e one- -e j1- -e j2- -e again -e out -e named -e sub -e stdin)"
"$rokconv" --info --json "${files[@]}" missing.rok >info.jsonl
check "--info --json: one line a file" test "$(wc -l <info.jsonl)" = $((${#files[@]} + 1))
check "--info --json: what the damaged file holds" python3 -c '
import json, sys
info = {j["file"]: j for j in map(json.loads, open(sys.argv[1]))}
d, r = info["in/damaged.rok"], info["in/damaged.rok"]["repairs"]
assert (d["faces"], d["colours"], d["cut_short"]) == (3, [0, 1, 7], {"block": "palette", "line": 82})
assert [r[k]["count"] for k in ("faces_edge_outside", "faces_bad_count", "lines_edge_outside",
        "faces_open_ring", "faces_no_surface")] == [1, 1, 1, 1, 2]
assert r["faces_open_ring"]["first_line"] == 59 and info["in/plain.rok"] == {"file": "in/plain.rok", "rok": False}
assert info["missing.rok"]["error"] == "could not open"' info.jsonl
"$rokgen" grid 70000 -o big.rok
check "--info: LWOB numbers vertices in 16 bits" \
    grep -q 'drawn wrongly in LWOB, faces using a point past the 65,536th: ' <<<"$("$rokconv" --info big.rok)"
out=$("$rokconv" -v in/plain.rok in/damaged.rok)
check "-v names the file skipped and the repairs" \
    test "$(head -n 1 <<<"$out")" = "not a ROK file, skipped: in/plain.rok" -a "$(wc -l <<<"$out")" -ge 5
if command -v script >/dev/null; then
    out=$(script -qec "$rokconv -d j1-lwo in/cube.rok in/house.rok" /dev/null)
    check "progress on a terminal, cleared at the end" grep -q '2 of 2 files' <<<"$out"
fi
cd .. || exit 1

# whatever failed on the way (a write, a close, a rename, a pair refused), no temporary file is left
check "no temporary file left" test -z "$(find "$work" -name '.rokconv-*')"
echo "cli: $passed passed, $failures failed"
[ "$failures" = 0 ]
