#!/bin/sh
# Installs the Debian packages a task needs, only those missing; quiet when
# everything is there. Run as root (or through sudo).
#   scripts/setup.sh run         build and run (scripts/run.sh)
#   scripts/setup.sh test        and test: the suite, the sanitizers, the
#                                fuzz targets, the package (scripts/test.sh)
#   scripts/setup.sh bench       and measure (bench/)
#   scripts/setup.sh screenshot  and photograph the window under a window
#                                manager (scripts/screenshot.sh)
set -eu
task=${1:-run}

# Building: the compiler, CMake and its make, ICU (the token splitter's
# character data) and Qt's Widgets. Running the window: the SVG icon engine
# that draws its icon and Qt's Polish texts for the file dialog and buttons.
run="g++ cmake make libicu-dev qt6-base-dev libqt6svg6 qt6-translations-l10n"
case "$task" in
run) packages=$run ;;
# GoogleTest; clang with libFuzzer for the fuzz targets; clang-format for
# the layout check; for the package, dpkg-shlibdeps and file (CPack computes
# Depends with them), then desktop-file-validate and appstreamcli to check
# what it installs.
test) packages="$run libgtest-dev libgmock-dev clang-14 libclang-rt-14-dev clang-format-14 \
dpkg-dev file desktop-file-utils appstream" ;;
# Google Benchmark, Python for the speed comparison, /usr/bin/time for the
# peak memory.
bench) packages="$run libbenchmark-dev python3 time" ;;
# A virtual display, a window manager to draw the title bar, and the tools
# that save the screen as PNG.
screenshot) packages="$run xvfb xauth openbox x11-utils x11-apps netpbm" ;;
*)
    echo "usage: scripts/setup.sh [run|test|bench|screenshot]" >&2
    exit 2
    ;;
esac

missing=""
for p in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
