#!/bin/sh
# Converts 100 corpus-sized STL files three ways and prints the wall time of
# each: one call with -j 1, one call with a job for every processor, and a
# shell loop of one call per file. Checks that all three wrote the same bytes.
# Usage: bench/batch_bench.sh [ROUNDS]   (default 3; the median is printed)
set -eu
cd "$(dirname "$0")/.."
rounds=${1:-3}
corpus=../shared/corpus
[ -d "$corpus" ] || { echo "no STL corpus at $corpus" >&2; exit 1; }

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTRIMELD_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target trimeld_cli >/dev/null
cli="$PWD/$build/trimeld-convert"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
# 100 files taken in turn from the corpus, each under a name of its own.
i=0
while [ "$i" -lt 100 ]; do
    for f in "$corpus"/*.stl "$corpus"/*.STL; do
        [ -f "$f" ] && [ "$i" -lt 100 ] || continue
        cp "$f" "$work/in/$(printf %03d "$i").stl"
        i=$((i + 1))
    done
done
bytes=$(du -cb "$work"/in/*.stl | tail -1 | cut -f1)

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

run() { # label, command...; prints the median seconds
    label=$1
    shift
    for r in $(seq "$rounds"); do
        rm -rf "$work/out" && mkdir "$work/out"
        start=$(now)
        "$@" >/dev/null 2>&1 || true
        end=$(now)
        awk "BEGIN { print $end - $start }"
    done | median > "$work/$label.time"
    (cd "$work/out" && cat ./*.raw | sha256sum | cut -d' ' -f1) > "$work/$label.sum"
}

loop() {
    for f in "$work"/in/*.stl; do
        "$cli" -q "$f" "$work/out/$(basename "$f" .stl).raw"
    done
}

run one "$cli" -q -j 1 -t "$work/out" "$work"/in/*.stl
run all "$cli" -q -t "$work/out" "$work"/in/*.stl
run loop loop

echo "100 files, $((bytes / 1024)) KiB of STL, $(nproc) processors, median of $rounds runs"
for label in one all loop; do
    case $label in
        one) what="one call, -j 1" ;;
        all) what="one call, -j $(nproc) (default)" ;;
        loop) what="shell loop, one call per file" ;;
    esac
    printf '  %-34s %6.3f s\n' "$what" "$(cat "$work/$label.time")"
done
if [ "$(cat "$work/one.sum")" = "$(cat "$work/all.sum")" ] &&
   [ "$(cat "$work/one.sum")" = "$(cat "$work/loop.sum")" ]; then
    echo "  outputs identical across the three"
else
    echo "  OUTPUTS DIFFER" >&2
    exit 1
fi
