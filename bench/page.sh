#!/usr/bin/env bash
# The page against its targets, beside the native build in the same run:
# - the 1,000,000-point grid read and written as glb in the page's worker, at most 3× the native
#   library doing the same on one thread (rokbench_convert: from memory to memory);
# - the page's own files (HTML, CSS, JS, wasm, three.js and fflate as the page loads them) at
#   most 1 MB gzipped.
# Medians of RUNS runs each. Needs the wasm build (cmake --preset wasm, after npm ci in web/) and
# Chromium.
#   usage: bench/page.sh [--runs N] [--build DIR] [--wasm DIR]
#     --build DIR  the native build (default build-bench), made here in Release
#     --wasm DIR   the wasm build (default build-wasm)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
wasm=$root/build-wasm
runs=5
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --wasm) wasm=$(realpath "$2"); shift 2 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) echo "bench/page.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -f "$wasm/web/index.html" ] || { echo "bench/page.sh: no page in $wasm/web (cmake --build --preset wasm)" >&2; exit 2; }
build=$(mkdir -p "$build" && cd "$build" && pwd)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DROKCONV_TESTS=OFF -DROKCONV_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target rokgen rokbench_convert >/dev/null
data=$build/bench-data
mkdir -p "$data"
grid=$data/grid1m.rok
[ -f "$grid" ] || "$build/tests/support/rokgen" grid 1000000 -o "$grid"

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "the 1,000,000-point grid ($(stat -c %s "$grid") bytes) to glb, $runs runs each"
native=$(for _ in $(seq "$runs"); do "$build/bench/rokbench_convert" "$grid" 1 | cut -d' ' -f1; done | median)
page_runs=$(node "$root/bench/page_time.mjs" "$wasm" "$grid" "$runs")
in_page=$(cut -d' ' -f1 <<<"$page_runs" | median)
shown=$(cut -d' ' -f2 <<<"$page_runs" | median)
ratio=$(awk -v p="$in_page" -v n="$native" 'BEGIN {printf "%.2f", p / n}')
printf '| native library, one thread | %.0f ms |\n| the page'"'"'s worker | %.0f ms |\n' "$native" "$in_page"
printf '| the page, file chosen to model drawn | %.0f ms |\n' "$shown"
printf '| worker / native | %s (target: at most 3) |\n' "$ratio"

echo
echo "the page's files, gzipped (gzip -9)"
cd "$wasm/web"
total=0
for file in index.html page.css page.js worker.js rokconv.mjs rokconv.wasm three/three.module.js \
        three/three.core.js three/addons/controls/OrbitControls.js \
        three/addons/loaders/GLTFLoader.js three/addons/utils/BufferGeometryUtils.js \
        three/addons/utils/SkeletonUtils.js fflate/fflate.js; do
    size=$(gzip -9c "$file" | wc -c)
    total=$((total + size))
    printf '| %s | %d | %d |\n' "$file" "$(stat -c %s "$file")" "$size"
done
printf '| total | | %d (target: at most 1,048,576) |\n' "$total"
status=0
awk -v r="$ratio" 'BEGIN {exit !(r <= 3)}' || { echo "the page is more than 3x the native time"; status=1; }
[ "$total" -le 1048576 ] || { echo "the page's files are more than 1 MB gzipped"; status=1; }
exit $status
