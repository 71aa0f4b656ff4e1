#!/usr/bin/env bash
# Times rokconv end to end on generated models and holds the figures against the targets:
# a 100,000- and a 1,000,000-point grid, a ring of 65535 edges and a grid of the ring's file size,
# each converted RUNS times (median wall time, peak RSS), next to `wc -l` and, when installed,
# assimp on the same 1M grid written as OBJ. Each run, rokconv's and assimp's alike, starts with
# its output file removed (untimed), as a first conversion finds it; the commands the targets
# compare are also run once each in turn, and their ratios taken round by round. Then
# bench/batch.sh: many files in one run.
#   usage: bench/run.sh [--runs N] [--build DIR] [--stages] [--baseline ROKCONV]
#     --runs N     timed runs of each command (default 5), after one untimed run
#     --build DIR  build directory (default build-bench); the models go to DIR/bench-data
#     --stages     also run rokconv_stage_bench: load_rok and save_lwob timed in process
#     --baseline ROKCONV  another build of rokconv (an earlier version, say), timed in the same
#                  run on the grids; its outputs must be byte-identical to this build's
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
runs=5
stages=0
baseline=
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --stages) stages=1; shift ;;
        --baseline) baseline=$(realpath "$2"); shift 2 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) echo "bench/run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
build=$(mkdir -p "$build" && cd "$build" && pwd)

for tool in cmake c++ awk; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench/run.sh: $tool is needed (apt-get install cmake g++ gawk)" >&2
        exit 2
    fi
done

echo "building a Release rokconv and rokgen in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DROKCONV_TESTS=OFF \
      -DROKCONV_BENCH=ON >/dev/null
targets=(rokconv rokgen rokbench_measure)
if [ "$stages" = 1 ]; then
    if grep -q '^benchmark_DIR:PATH=.*NOTFOUND' "$build/CMakeCache.txt"; then
        echo "bench/run.sh: --stages needs Google Benchmark (apt-get install libbenchmark-dev)" >&2
        exit 2
    fi
    targets+=(rokconv_stage_bench)
fi
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

rokgen=$build/tests/support/rokgen
rokconv=$build/rokconv
measure=$build/bench/rokbench_measure
data=$build/bench-data
mkdir -p "$data"
cd "$data"  # rokconv writes NAME.LWO into the current directory

echo "generating the models in $data"
"$rokgen" grid 100000 -o grid100k.rok
"$rokgen" grid 1000000 -o grid1m.rok
"$rokgen" ring 65535 -o ring65535.rok
"$rokgen" grid --bytes "$(stat -c %s ring65535.rok)" -o grid-ring-size.rok
assimp=$(command -v assimp || true)
if [ -n "$assimp" ]; then
    "$rokgen" grid 1000000 --obj -o grid1m-in.obj
fi

declare -A median size rss
# measure KEY LABEL FILE OUTPUT RUNS COMMAND...: times the command and prints one table row;
# OUTPUT, what the command writes (- for nothing), is removed untimed before each run
measure() {
    local key=$1 label=$2 file=$3 output=$4 n=$5
    shift 5
    local fresh=()
    [ "$output" != - ] && fresh=(--fresh "$output")
    local result
    result=$("$measure" "${fresh[@]}" "$n" "$@")
    read -r median[$key] _ _ rss[$key] <<<"$result"
    size[$key]=$(stat -c %s "$file")
    awk -v label="$label" -v bytes="${size[$key]}" -v t="${median[$key]}" -v kib="${rss[$key]}" \
        'BEGIN { printf "%-30s %9.1f %10.4f %8.0f %10.1f %9.2f\n", label, bytes / 1e6, t,
                 bytes / 1e6 / t, kib / 1024, kib * 1024 / bytes }'
}

# one OUTPUT COMMAND...: the time of one run of the command, OUTPUT (- for none) removed before it
one() {
    local fresh=()
    [ "$1" != - ] && fresh=(--fresh "$1")
    "$measure" "${fresh[@]}" 1 "${@:2}" | cut -d' ' -f1
}
# the median of the numbers on standard input, one a line
median_of() { sort -g | awk '{ r[NR] = $1 } END { printf "%.4f", r[int((NR + 1) / 2)] }'; }

echo
echo "machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores; $runs runs each"
printf "%-30s %9s %10s %8s %10s %9s\n" "command" "input MB" "median s" "MB/s" \
       "peak MiB" "RSS/input"
measure grid100k "rokconv grid 100k points" grid100k.rok grid100k.LWO "$runs" \
        "$rokconv" grid100k.rok
measure grid1m "rokconv grid 1M points" grid1m.rok grid1m.LWO "$runs" "$rokconv" grid1m.rok
measure ring "rokconv ring 65535 edges" ring65535.rok ring65535.LWO "$runs" \
        "$rokconv" ring65535.rok
measure gridring "rokconv grid of ring's size" grid-ring-size.rok grid-ring-size.LWO "$runs" \
        "$rokconv" grid-ring-size.rok
if [ -n "$baseline" ]; then
    for model in grid100k grid1m; do
        "$rokconv" $model.rok && mv $model.LWO $model.new.LWO && "$baseline" $model.rok
        cmp -s $model.LWO $model.new.LWO || { echo "bench/run.sh: outputs differ on $model" >&2; exit 1; }
    done
    measure base100k "baseline grid 100k points" grid100k.rok grid100k.LWO "$runs" \
            "$baseline" grid100k.rok
    measure base1m "baseline grid 1M points" grid1m.rok grid1m.LWO "$runs" "$baseline" grid1m.rok
    # and the two builds one run each in turn, each first every other time, so that a drift of
    # the machine, or what a run leaves to the next, meets both alike
    paired=$(for i in $(seq "$runs"); do
        if [ $((i % 2)) = 0 ]; then a=$(one grid1m.LWO "$rokconv" grid1m.rok)
                                    b=$(one grid1m.LWO "$baseline" grid1m.rok)
        else b=$(one grid1m.LWO "$baseline" grid1m.rok); a=$(one grid1m.LWO "$rokconv" grid1m.rok); fi
        echo "$a $b"
    done | awk '{ print $1 / $2 }' | median_of)
fi
measure glb "rokconv -f glb grid 1M points" grid1m.rok grid1m.glb "$runs" \
        "$rokconv" -f glb grid1m.rok
measure obj "rokconv -f obj grid 1M points" grid1m.rok grid1m.obj "$runs" \
        "$rokconv" -f obj grid1m.rok
measure ringglb "rokconv -f glb ring 65535" ring65535.rok ring65535.glb "$runs" \
        "$rokconv" -f glb ring65535.rok
measure gridringglb "rokconv -f glb grid of ring's size" grid-ring-size.rok grid-ring-size.glb \
        "$runs" "$rokconv" -f glb grid-ring-size.rok
measure wc "wc -l grid 1M points" grid1m.rok - "$runs" wc -l grid1m.rok
if [ -n "$assimp" ]; then
    assimp_runs=$(( runs < 3 ? runs : 3 ))
    measure assimp "assimp grid 1M (OBJ to PLY)" grid1m-in.obj grid1m.ply "$assimp_runs" \
            "$assimp" export grid1m-in.obj grid1m.ply -fplyb
    measure assimpglb "assimp grid 1M (OBJ to GLB)" grid1m-in.obj grid1m-assimp.glb \
            "$assimp_runs" "$assimp" export grid1m-in.obj grid1m-assimp.glb -fglb2
fi
# and the commands the ratios compare, one run each in turn, the order turned round every other
# time, so that a drift of the machine meets all alike: the median of each ratio over the rounds
run_ours() {
    l=$(one grid1m.LWO "$rokconv" grid1m.rok)
    g=$(one grid1m.glb "$rokconv" -f glb grid1m.rok)
    o=$(one grid1m.obj "$rokconv" -f obj grid1m.rok)
}
run_theirs() {
    w=$(one - wc -l grid1m.rok)
    a=1 p=1
    [ -z "$assimp" ] && return
    a=$(one grid1m-assimp.glb "$assimp" export grid1m-in.obj grid1m-assimp.glb -fglb2)
    p=$(one grid1m.ply "$assimp" export grid1m-in.obj grid1m.ply -fplyb)
}
rounds=$(for i in $(seq "$runs"); do
    if [ $((i % 2)) = 0 ]; then run_theirs; run_ours; else run_ours; run_theirs; fi
    echo "$l $g $o $w $a $p"
done)
in_turn() { awk "{ print $1 }" <<<"$rounds" | median_of; }  # in_turn 'A / B', of the columns
paired_wc=$(in_turn '$1 / $4')
paired_ply=$(in_turn '$6 / $1')
paired_glb=$(in_turn '$5 / $2')
paired_obj=$(in_turn '$5 / $3')

echo
printf "%-44s %10s %12s  %s\n" "target" "measured" "goal" ""
# check LABEL VALUE OP GOAL FORMAT
check() {
    awk -v label="$1" -v v="$2" -v op="$3" -v goal="$4" -v fmt="$5" 'BEGIN {
        ok = (op == ">=") ? v >= goal : v <= goal
        printf "%-44s " fmt " %9s %-2s  %s\n", label, v, op, goal, ok ? "ok" : "MISSED"
    }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
check "end to end, 1M grid (MB/s)" "$(ratio "${size[grid1m]}" "$(ratio "${median[grid1m]}" 1e-6)")" \
      ">=" 300 "%10.0f"
blocks="rokconv / wc -l $(ratio "${median[grid1m]}" "${median[wc]}")"
if [ -n "$assimp" ]; then
    blocks+=", assimp / rokconv $(ratio "${median[assimp]}" "${median[grid1m]}")"
    blocks+=", assimp (to GLB) / -f glb $(ratio "${median[assimpglb]}" "${median[glb]}")"
    blocks+=", / -f obj $(ratio "${median[assimpglb]}" "${median[obj]}")"
fi
echo "(on the medians above: $blocks; the ratios below are from the runs in turn)"
check "rokconv / wc -l, 1M grid (time)" "$paired_wc" "<=" 12 "%10.2f"
if [ -n "$assimp" ]; then
    check "assimp / rokconv, 1M grid (time)" "$paired_ply" ">=" 5 "%10.2f"
    check "assimp (to GLB) / rokconv -f glb, 1M grid" "$paired_glb" ">=" 5 "%10.2f"
    check "assimp (to GLB) / rokconv -f obj, 1M grid" "$paired_obj" ">=" 5 "%10.2f"
else
    printf "%-44s %10s\n" "assimp / rokconv, 1M grid (time)" "skipped"
    echo "  assimp is not installed: apt-get install assimp-utils to compare with it"
fi
check "peak RSS / input, 1M grid, -f glb" "$(ratio "$(( rss[glb] * 1024 ))" "${size[grid1m]}")" \
      "<=" 2 "%10.2f"
check "peak RSS / input, 1M grid, -f obj" "$(ratio "$(( rss[obj] * 1024 ))" "${size[grid1m]}")" \
      "<=" 2 "%10.2f"
check "ring 65535 / grid of its size, -f glb (time)" \
      "$(ratio "${median[ringglb]}" "${median[gridringglb]}")" "<=" 3 "%10.2f"
check "peak RSS / input size, 1M grid" "$(ratio "$(( rss[grid1m] * 1024 ))" "${size[grid1m]}")" \
      "<=" 2 "%10.2f"
per_byte=$(awk -v t1="${median[grid1m]}" -v s1="${size[grid1m]}" -v t0="${median[grid100k]}" \
               -v s0="${size[grid100k]}" 'BEGIN { printf "%.4f", (t1 / s1) / (t0 / s0) * 10 }')
check "1M / 100k time, as for 10x the bytes" "$per_byte" "<=" 11 "%10.2f"
check "ring 65535 / grid of the same size (time)" \
      "$(ratio "${median[ring]}" "${median[gridring]}")" "<=" 2 "%10.2f"
if [ -n "$baseline" ]; then
    echo "rokconv / baseline, time: 100k grid $(ratio "${median[grid100k]}" "${median[base100k]}")," \
         "1M grid $(ratio "${median[grid1m]}" "${median[base1m]}"); 1M grid, runs in turn:" \
         "median ratio $paired"
fi
echo "(1M / 100k: raw time ratio $(ratio "${median[grid1m]}" "${median[grid100k]}") for" \
     "$(ratio "${size[grid1m]}" "${size[grid100k]}")x the bytes)"

"$root/bench/batch.sh" "$build" "$runs"

if [ "$stages" = 1 ]; then
    echo
    "$build/bench/rokconv_stage_bench" --benchmark_min_time=0.5
fi
rm -f ./*.LWO ./*.ply ./*.glb ./grid1m.obj ./grid1m.mtl ./*.mtl
