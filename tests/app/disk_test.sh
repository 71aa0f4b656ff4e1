#!/usr/bin/env bash
# What is already on disk is respected: files the user may not write, links, permissions, hard
# links, folders that take no new file, and conversions ended by a signal while they write.
# usage: disk_test.sh ROKCONV EXAMPLES_DIR IO_FAULTS_LIBRARY
# Run as root, it makes files of other owners and converts as the unprivileged user nobody; run
# as anyone else, it converts as that user and leaves out what needs another owner.
set -u
rokconv=$(realpath "$1")
cube=$(realpath "$2")/cube.rok
io_faults=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cd "$work" || exit 1
umask 022
failures=0
passed=0
check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); [ -n "${VERBOSE:-}" ] && echo "ok $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
root=false
[ "$(id -u)" = 0 ] && root=true
user=$(id -un)
$root && user=nobody
as_user() { if $root; then setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; else "$@"; fi; }
# a folder the converting user owns
userdir() { mkdir -p "$1" && { ! $root || chown nobody:nogroup "$1"; }; }
# convert DIR: the cube, converted in DIR as the user; prints "status:output"
convert() { (cd "$1" && out=$(as_user "$rokconv" "$cube"); echo "$?:$out"); }
fresh=$(mktemp -d) && (cd "$fresh" && "$rokconv" "$cube") && mv "$fresh/cube.LWO" new.LWO
rm -rf "$fresh"
chmod 644 new.LWO
is_new() { cmp -s "$1" "$work/new.LWO"; }
leftovers() { test -z "$(find "$work" -name '.rokconv-*')"; }
refused=$'1:could not create: cube.LWO\nerror occured.'

if $root; then
    # a write-protected file of another owner, in a folder the user may write, is refused
    for mode in 444 644; do
        userdir "p$mode" && echo old >"p$mode/cube.LWO" && chmod "$mode" "p$mode/cube.LWO"
        check "protected $mode refused" test "$(convert "p$mode")" = "$refused"
        check "protected $mode untouched" test "$(cat "p$mode/cube.LWO"):$(stat -c %U:%a "p$mode/cube.LWO")" = "old:root:$mode"
    done
    # root may write it, and it keeps its mode and its owners
    mkdir owned && echo old >owned/cube.LWO && chown 1234:2345 owned/cube.LWO && chmod 4751 owned/cube.LWO
    (cd owned && "$rokconv" "$cube")
    check "root replaces a protected file" is_new owned/cube.LWO
    check "owner, group and mode kept" test "$(stat -c %u:%g:%a owned/cube.LWO)" = 1234:2345:4751
    # a folder only root may write, holding an output the user may write: written in place
    mkdir locked && echo old >locked/cube.LWO && chown nobody locked/cube.LWO
    check "unwritable folder, writable output" test "$(convert locked)" = "0:"
    check "written in place" is_new locked/cube.LWO
    # a link planted by another user in a shared sticky folder is not followed
    protected=$(cat /proc/sys/fs/protected_symlinks 2>/dev/null)
    if [ -n "$protected" ] && echo 1 >/proc/sys/fs/protected_symlinks 2>/dev/null; then
        mkdir -m 1777 sticky && userdir victim && echo old >victim/x.LWO && chown nobody victim/x.LWO
        ln -s "$work/victim/x.LWO" sticky/cube.LWO && chown -h 1234 sticky/cube.LWO
        check "planted link refused" test "$(convert sticky)" = "$refused"
        check "planted link's target untouched" test "$(cat victim/x.LWO)" = old
        echo "$protected" >/proc/sys/fs/protected_symlinks
    fi
fi

# a link to a file, here or in another folder, is followed: the file gets the new contents and
# keeps its mode, and the link stays a link
userdir d && userdir elsewhere
for target in d/target.LWO elsewhere/target.LWO; do
    echo old >"$target" && chmod 640 "$target" && { ! $root || chown nobody "$target"; }
    ln -sfn "$work/$target" d/cube.LWO
    check "link to $target" test "$(convert d)" = "0:"
    check "$target written" is_new "$target"
    check "$target keeps its mode" test "$(stat -c %a "$target")" = 640
    check "the link stays" test -L d/cube.LWO
done
# a link to nowhere creates its target; a loop of links cannot be created
ln -sfn "$work/elsewhere/new.LWO" d/cube.LWO
check "dangling link" test "$(convert d)" = "0:"
check "dangling link's target created" is_new elsewhere/new.LWO
ln -sfn loop.LWO d/cube.LWO && ln -sfn cube.LWO d/loop.LWO
check "loop of links" test "$(convert d)" = "$refused"
rm d/cube.LWO d/loop.LWO

# a file with another hard link: every link sees the new contents
echo old >d/cube.LWO && ln d/cube.LWO d/other.LWO && { ! $root || chown nobody d/cube.LWO; }
check "hard link" test "$(convert d)" = "0:"
check "both links see it" test "$(stat -c %i d/cube.LWO)" = "$(stat -c %i d/other.LWO)"
check "the other link's contents" is_new d/other.LWO
rm d/cube.LWO d/other.LWO
check "no temporary file left" leftovers

# ended by a signal while it writes: the temporary file is removed, the earlier output is kept,
# and the status is the signal's (the sanitizers' runtime must come first, so not under them)
if ! nm "$rokconv" 2>/dev/null | grep -q __asan_init; then
    for signal in INT TERM HUP; do
        echo old >d/cube.LWO && { ! $root || chown nobody d/cube.LWO; }
        (cd d && exec env ROKCONV_TEST_SLOW_WRITE=5 LD_PRELOAD="$io_faults" setsid "$rokconv" "$cube") &
        pid=$!
        for _ in $(seq 50); do [ -n "$(find d -name '.rokconv-*')" ] && break; sleep 0.1; done
        check "SIG$signal: a temporary file while it writes" test -n "$(find d -name '.rokconv-*')"
        kill -s "$signal" "$pid"
        { wait "$pid"; } 2>/dev/null  # bash would report the signal
        status=$?
        check "SIG$signal: ends by the signal ($status)" test "$status" = $((128 + $(kill -l "$signal")))
        check "SIG$signal: temporary file removed" leftovers
        check "SIG$signal: earlier output kept" test "$(cat d/cube.LWO)" = old
    done
fi

# a message to a closed pipe is not a signal's death
status=$( { { sleep 0.3; "$rokconv" no/such.rok; echo $? >status; } | true; } ; cat status)
check "closed pipe: status 1, not SIGPIPE ($status)" test "$status" = 1

echo "disk ($user): $passed passed, $failures failed"
[ "$failures" = 0 ]
