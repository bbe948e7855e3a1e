#!/bin/sh
# Installs what is missing, checks the sources' layout, builds everything
# with warnings as errors and runs every test: once as built for use, then
# the Debian package is made from that build and checked, then the suite
# runs once more under
# AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for
# a short while.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh test
jobs=$(nproc)

echo "== source layout"
scripts/check-format.sh

echo "== build and test, as users build it"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release -DTRIMELD_WERROR=ON >/dev/null
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

echo "== Debian package"
rm -f build-test/trimeld_*.deb
(cd build-test && cpack -G DEB)
scripts/check-package.sh build-test/trimeld_*_amd64.deb

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRIMELD_WERROR=ON \
    -DTRIMELD_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fuzz targets, ${TRIMELD_FUZZ_SECONDS:-30} s each"
fuzz/run_fuzz.sh "${TRIMELD_FUZZ_SECONDS:-30}"
