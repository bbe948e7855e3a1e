#!/bin/sh
# Fails, naming the files, when a C++ source differs from .clang-format.
# Generated tables (*.inc) are left as their generator writes them.
set -eu
cd "$(dirname "$0")/.."
bad=""
for f in $(git ls-files '*.cpp' '*.h'); do
    clang-format-14 --dry-run --Werror "$f" >/dev/null 2>&1 || bad="$bad $f"
done
if [ -n "$bad" ]; then
    echo "not formatted as .clang-format says (clang-format-14 -i FILE):$bad" >&2
    exit 1
fi
echo "every C++ source is formatted"
