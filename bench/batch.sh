#!/usr/bin/env bash
# Many files in one run: 10,000 small generated models converted by one rokconv process against
# one process a file in a shell loop; -j 0 against -j 1 on batches of every size in every
# format, where the jobs and each conversion's own threads share the cores; and what -v, which
# counts every repair and the line it is on, costs on the 1,000,000-point grid.
#   usage: bench/batch.sh BUILD_DIR RUNS   (bench/run.sh calls it; BUILD_DIR has been built)
set -euo pipefail
build=$(cd "$1" && pwd)
runs=$2
rokgen=$build/tests/support/rokgen
rokconv=$build/rokconv
measure=$build/bench/rokbench_measure
data=$build/bench-data/batch
rm -rf "$data" && mkdir -p "$data/in" "$data/one" "$data/loop" "$data/grids"
cd "$data"

# 200 distinct models of 10 to 110 points (1 to 12 kB), each linked 50 times under other names
for i in $(seq 0 199); do "$rokgen" grid $((10 + i / 2)) --seed "$i" -o "model$i.rok"; done
for i in $(seq 0 199); do for k in $(seq 0 49); do ln "model$i.rok" "in/m$i-$k.rok"; done; done
rm -f model*.rok
bytes=$(cat in/*.rok | wc -c)
count=$(ls in | wc -l)
for k in 1 2 3 4; do ln -f ../grid1m.rok "grids/grid$k.rok" 2>/dev/null || cp ../grid1m.rok "grids/grid$k.rok"; done
# the -j batches: 16 distinct files of 1,000, 20,000 and 100,000 points, and 4 of 1,000,000
sizes="1000 20000 100000 1000000"
for size in $sizes; do
    mkdir -p "jobs/$size" "jobs-out/$size"
    files=16
    [ "$size" = 1000000 ] && files=4
    for k in $(seq "$files"); do "$rokgen" grid "$size" --seed "$k" -o "jobs/$size/g$k.rok"; done
done

declare -A median rss
# run KEY LABEL RUNS COMMAND...: times the command and prints one row
run() {
    local key=$1 label=$2 n=$3
    shift 3
    read -r median[$key] _ _ rss[$key] <<<"$("$measure" "$n" "$@")"
    printf "%-42s %10.3f %10.1f\n" "$label" "${median[$key]}" "$(awk -v k="${rss[$key]}" 'BEGIN { print k / 1024 }')"
}
echo
echo "$count files of $((bytes / count)) bytes on average; $(nproc) cores"
printf "%-42s %10s %10s\n" "command" "median s" "peak MiB"
# on the build's disk, and in memory (tmpfs), where the file system's own cost, which both ways
# pay alike, does not hide the converter's
memory=$(mktemp -d /dev/shm/rokconv-batch.XXXXXX 2>/dev/null || true)
for where in disk ${memory:+memory}; do
    folder=$data
    [ $where = memory ] && folder=$memory && cp -r in "$memory/" && mkdir "$memory/one" "$memory/loop"
    cd "$folder"
    run batch-$where "rokconv -d DIR (all in one run), $where" "$runs" "$rokconv" -q -d one in/*.rok
    run loop-$where "one rokconv a file, shell loop, $where" 1 \
        bash -c 'for f in in/*.rok; do "$0" -d loop "$f"; done' "$rokconv"
    diff -rq one loop >/dev/null || { echo "bench/batch.sh: the two ways gave different files" >&2; exit 1; }
done
cd "$data"
[ -n "$memory" ] && rm -rf "$memory"
run plain "rokconv 1M grid" "$runs" "$rokconv" -d grids grids/grid1.rok
run verbose "rokconv -v 1M grid (counting repairs)" "$runs" "$rokconv" -v -d grids grids/grid1.rok
# each pair one run each in turn, the order turned round every other time, so that a drift of
# the machine meets both alike: the median of the rounds' ratios of the first's time to the
# second's (each function times one run)
plain() { "$measure" 1 "$rokconv" -d grids grids/grid1.rok | cut -d' ' -f1; }
verbose() { "$measure" 1 "$rokconv" -v -d grids grids/grid1.rok | cut -d' ' -f1; }
in_turn() {
    local first=$1 second=$2 n=$3 i a b
    for i in $(seq "$n"); do
        if [ $((i % 2)) = 0 ]; then a=$($first); b=$($second); else b=$($second); a=$($first); fi
        echo "$a $b"
    done | awk '{ print $1 / $2 }' | sort -g | awk '{ r[NR] = $1 } END { printf "%.4f", r[int((NR + 1) / 2)] }'
}
paired_v=$(in_turn verbose plain "$runs")
# -j 0 shares the cores among files, -j 1 among one file's threads; 9 runs each in turn
jobs_runs=${ROKCONV_JOBS_RUNS:-9}
declare -A j0_over_j1
for size in $sizes; do
    for format in lwo obj glb gltf stl; do
        j0() { "$measure" 1 "$rokconv" -q -j 0 -f "$format" -d "jobs-out/$size" jobs/"$size"/*.rok | cut -d' ' -f1; }
        j1() { "$measure" 1 "$rokconv" -q -j 1 -f "$format" -d "jobs-out/$size" jobs/"$size"/*.rok | cut -d' ' -f1; }
        j0_over_j1[$size-$format]=$(in_turn j0 j1 "$jobs_runs")
    done
done

echo
check() {
    awk -v label="$1" -v v="$2" -v op="$3" -v goal="$4" 'BEGIN {
        ok = (op == ">=") ? v >= goal : v <= goal
        printf "%-44s %10.2f %9s %-2s  %s\n", label, v, op, goal, ok ? "ok" : "MISSED"
    }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
for where in disk ${memory:+memory}; do
    check "shell loop / one run, $count files, $where" \
        "$(ratio "${median[loop-$where]}" "${median[batch-$where]}")" ">=" 10
done
echo "-v / plain, medians above: $(ratio "${median[verbose]}" "${median[plain]}"); runs in turn below"
check "-v / plain, 1M grid (time), in turn" "$paired_v" "<=" 1.1
cores=$(nproc)
gain=$(awk -v c="$cores" 'BEGIN { print 0.8 * (c < 4 ? c : 4) }')
for size in $sizes; do
    files=16
    [ "$size" = 1000000 ] && files=4
    for format in lwo obj glb gltf stl; do
        check "-j 0 / -j 1, $files x $size points, $format" "${j0_over_j1[$size-$format]}" "<=" 1.05
        if [ "$size" = 20000 ]; then
            check "-j 1 / -j 0, $files x $size points, $format" \
                "$(awk -v r="${j0_over_j1[$size-$format]}" 'BEGIN { printf "%.4f", 1 / r }')" ">=" "$gain"
        fi
    done
done
cd .. && rm -rf "$data"
