#!/usr/bin/env bash
# Builds every libFuzzer target (tests/fuzz/fuzz_*.cpp) with clang, AddressSanitizer
# and UBSan, and runs each for a given time.
#
#   bench/run_fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]      default: 600 s, every target
#
# Each target first replays its committed regression inputs (tests/fuzz/corpus/TARGET,
# if any), then fuzzes on, keeping its working corpus in build/fuzz/corpus/TARGET
# across runs. A finding stops the run with a non-zero status; its input is left in
# build/fuzz/findings/TARGET. Turn it into a regression test by adding the input
# to tests/fuzz/corpus/TARGET (and, where it shows a fault of the module, a test
# that reproduces it from Python).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
build=${VELTRANE_FUZZ_BUILD:-$here/build/fuzz}
python=${PYTHON:-python3}

. "$here/tools/system-deps.sh"
ensure_system_deps
ensure_test_deps
ensure_fuzz_deps

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$here"/tests/fuzz/fuzz_*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

mkdir -p "$build"
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DVELTRANE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPython_EXECUTABLE="$(command -v "$python")" >"$build/cmake.log" 2>&1 || { cat "$build/cmake.log"; exit 1; }
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >"$build/build.log" 2>&1 \
    || { tail -n 40 "$build/build.log"; exit 1; }

status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$corpus" "$findings"
    seeds=()
    [ -d "$here/tests/fuzz/corpus/$target" ] && seeds=("$here/tests/fuzz/corpus/$target")
    log="$build/$target.log"
    start=$(date +%s)
    # Several MiB per input: a larger memory limit than libFuzzer's default.
    if UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=abort_on_error=0 \
        "$build/$target" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        runs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo "?")
        echo "$target: $runs runs in $(( $(date +%s) - start )) s, no finding (corpus: $corpus)"
    else
        echo "$target: FINDING after $(( $(date +%s) - start )) s (log: $log, input in $findings)"
        grep -E 'ERROR|runtime error|differs|SUMMARY' "$log" | head -n 20 || tail -n 30 "$log"
        status=1
    fi
done
exit $status
