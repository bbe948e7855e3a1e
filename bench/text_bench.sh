#!/bin/sh
# Converts a generated text STL of at least 500 MB with trimeld-convert and
# prints facets per second, MB per second and the peak memory, beside the
# limit the converter must keep: 72 bytes per facet plus 64 MiB, whatever the
# size of the text. The files live in a temporary folder removed at the end.
#
# Usage: bench/text_bench.sh [CONVERTER] [FACETS]
#   CONVERTER  the trimeld-convert to run (default: build/trimeld-convert)
#   FACETS     facets to generate (default 2100000, about 530 MB of text)
# The generator is ../shared/bench/make_stl.py, or $TRIMELD_MAKE_STL.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
converter=${1:-$here/../build/trimeld-convert}
facets=${2:-2100000}
generator=${TRIMELD_MAKE_STL:-$here/../../shared/bench/make_stl.py}
min_bytes=500000000

[ -x "$converter" ] || { echo "text_bench: no converter at $converter" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "text_bench: /usr/bin/time is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/trimeld-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

echo "generating $facets facets of text STL..."
python3 "$generator" --text "$work/big.stl" --facets "$facets"
bytes=$(stat -c %s "$work/big.stl")
if [ "$bytes" -lt "$min_bytes" ]; then
    echo "text_bench: only $bytes bytes; give more facets for at least $min_bytes" >&2
    exit 2
fi

echo "converting $bytes bytes..."
/usr/bin/time -v -o "$work/time.txt" "$converter" "$work/big.stl" "$work/big.raw" 2> "$work/report.txt"
cat "$work/report.txt"
read_count=$(sed -n 's/.*: \([0-9]*\) triangles\{0,1\} read from text STL.*/\1/p' "$work/report.txt")
if [ "$read_count" != "$facets" ]; then
    echo "text_bench: read ${read_count:-no} triangles, expected $facets" >&2
    exit 1
fi

awk -v facets="$facets" -v bytes="$bytes" '
    /Elapsed \(wall clock\)/ {
        n = split($NF, part, ":")
        seconds = 0
        for (i = 1; i <= n; i++) seconds = seconds * 60 + part[i]
    }
    /User time/ { user = $NF }
    /System time/ { system_time = $NF }
    /Maximum resident set size/ { peak_kib = $NF }
    END {
        mib = 1024 * 1024
        peak = peak_kib * 1024
        limit = 72 * facets + 64 * mib
        printf "facets          %d\n", facets
        printf "text            %.1f MB\n", bytes / 1e6
        printf "wall time       %.2f s (user %.2f s, system %.2f s)\n", seconds, user, system_time
        printf "facets/s        %.0f\n", facets / seconds
        printf "MB/s            %.1f\n", bytes / 1e6 / seconds
        printf "peak memory     %.1f MiB\n", peak / mib
        printf "limit           %.1f MiB (72 bytes/facet + 64 MiB)\n", limit / mib
        printf "within limit    %s\n", peak <= limit ? "yes" : "NO"
        exit peak <= limit ? 0 : 1
    }' "$work/time.txt"
