#!/bin/sh
# Takes docs/window.png: the window as a desktop shows it, frame and title bar
# included, under the openbox window manager on a virtual display, opened as
# "Open with" opens it on an STL file (the file need not exist: nothing is
# converted).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh screenshot
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target trimeld >/dev/null

xvfb-run --auto-servernum --server-args="-screen 0 800x450x24" sh -eu -c '
    openbox >/dev/null 2>&1 &
    sleep 1
    LANG=C.UTF-8 build/app/trimeld /home/user/models/bracket.stl &
    program=$!
    caption="Trimeld. (wer.: $(build/app/trimeld --version | cut -d" " -f2))"
    # Until the window is mapped and framed, then a moment to paint it.
    tries=0
    until xwininfo -name "$caption" >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || { echo "the window did not appear" >&2; exit 1; }
        sleep 0.2
    done
    sleep 1
    # The frame is the ancestor of the window just below the root.
    frame=$(xwininfo -name "$caption" | sed -n "s/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p")
    root=$(xwininfo -root | sed -n "s/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p")
    while parent=$(xwininfo -tree -id "$frame" | sed -n "s/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p") &&
          [ "$parent" != "$root" ]; do
        frame=$parent
    done
    xwininfo -id "$frame" | grep -E "Absolute|Width|Height"
    xwd -silent -id "$frame" | xwdtopnm 2>/dev/null | pnmtopng > docs/window.png
    kill $program
'
echo "docs/window.png written"
