#!/usr/bin/env bash
# Where a conversion spends its time, without perf: callgrind counts the instructions of one
# rokconv run on a generated grid and names the costliest functions and source lines.
#   usage: bench/profile.sh [POINTS] [--build DIR]   (default 100000 points, build-bench-prof)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
points=100000
build=$root/build-bench-prof
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        -h|--help) sed -n '2,4p' "$0"; exit 0 ;;
        *) points=$1; shift ;;
    esac
done
if ! command -v valgrind >/dev/null; then
    echo "bench/profile.sh: valgrind is needed (apt-get install valgrind)" >&2
    exit 2
fi

# optimised as in Release, with line tables for the annotation
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O3 -g -DNDEBUG" -DROKCONV_TESTS=OFF -DROKCONV_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target rokconv rokgen >/dev/null
work=$build/profile
mkdir -p "$work"
cd "$work"
"$build/tests/support/rokgen" grid "$points" -o grid.rok
echo "callgrind on rokconv, grid of $points points ($(stat -c %s grid.rok) bytes)"
valgrind --tool=callgrind --callgrind-out-file=callgrind.out "$build/rokconv" grid.rok \
    2>valgrind.log
echo
echo "== functions, own cost"
callgrind_annotate callgrind.out | grep -E '^ *[0-9,]+ \(' | head -15 | cut -c1-150
echo
echo "== source lines"
callgrind_annotate --auto=yes callgrind.out 2>/dev/null |
    grep -E '^ *[0-9,]+ \( *[0-9.]+%\)    ' | grep -v '=>' | sort -t'(' -k2 -rn | head -20 |
    cut -c1-150
echo
echo "full report: callgrind_annotate --auto=yes $work/callgrind.out"
rm -f ./*.LWO
