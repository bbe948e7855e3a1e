#!/bin/sh
# Builds the fuzz targets with clang and runs each for the given number of
# seconds (default 60), seeded from the shared STL corpus and the hand-made
# inputs in fuzz/seeds. Prints each target's final libFuzzer statistics.
# Usage: fuzz/run_fuzz.sh [SECONDS] [TARGET...]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"LoadFromStreamFuzz StreamConversionFuzz TokenSplitterFuzz DecimalParserFuzz NumberTextFuzz"}
build=build-fuzz

CXX=clang++-14 CC=clang-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTRIMELD_FUZZ=ON -DTRIMELD_BUILD_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target $targets >/dev/null

status=0
for target in $targets; do
    work="$build/corpus/$target"
    mkdir -p "$work" "$build/artifacts/$target"
    seeds="fuzz/seeds/$target"
    if [ "$target" = LoadFromStreamFuzz ]; then
        seeds="$seeds examples"
        # The shared corpus sits beside the checkout when there is one.
        [ -d ../shared/corpus ] && seeds="$seeds ../shared/corpus"
    fi
    # shellcheck disable=SC2086
    if ! "$build/fuzz/$target" "$work" $seeds -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target/" \
        >"$build/$target.log" 2>&1; then
        status=1
        echo "$target: FAILED, see $build/$target.log and $build/artifacts/$target/"
    fi
    printf '%s: ' "$target"
    grep -E '^#[0-9]+.*DONE' "$build/$target.log" | tail -n 1 || tail -n 3 "$build/$target.log"
done
exit $status
