#!/usr/bin/env bash
# Builds the libFuzzer target and runs it for SECONDS (default 60) on a copy of the seed corpus,
# so that the corpus in the tree stays as it is. Exits non-zero on any crash, leak, sanitizer
# report, timeout (an input taking over a second) or memory blow-up; the input that caused it is
# left in the build directory's fuzz-artifacts/.
#   usage: fuzz/run.sh [SECONDS]        environment: ROKCONV_FUZZ_BUILD (default build-fuzz)
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROKCONV_FUZZ_BUILD:-$root/build-fuzz}

if ! command -v clang++ >/dev/null; then
    echo "fuzz/run.sh: clang++ is needed (apt-get install clang)" >&2
    exit 2
fi

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DROKCONV_FUZZ=ON -DROKCONV_TESTS=OFF >/dev/null
cmake --build "$build" --target rokconv_fuzz -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/fuzz-artifacts"
cp "$root"/fuzz/corpus/* "$work/corpus/"

echo "fuzzing for ${seconds}s on a copy of fuzz/corpus ($(ls "$work/corpus" | wc -l) inputs)"
status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
"$build/fuzz/rokconv_fuzz" "$work/corpus" \
    -dict="$root/fuzz/rok.dict" \
    -max_total_time="$seconds" \
    -timeout=1 \
    -rss_limit_mb=2048 \
    -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/" >"$build/fuzz.log" 2>&1 || status=$?

# the fuzzer reports every new input; its log is kept, and only its end is shown
if [ "$status" -ne 0 ]; then
    tail -n 80 "$build/fuzz.log"
    echo "fuzz/run.sh: the fuzzer stopped with status $status; its input is in $build/fuzz-artifacts/" >&2
    exit 1
fi
grep -E '^(Done|stat::)' "$build/fuzz.log" || true
echo "fuzz/run.sh: no fault found in ${seconds}s"
