#!/bin/sh
# Checks a built Trimeld .deb: lists its contents and control fields, checks
# that the binaries, the desktop entry, the icon, the manual pages, the
# licence and the AppStream data are there, that Depends was computed, that
# no installed binary carries a RUNPATH, that the desktop entry and the
# AppStream data validate, and that trimeld-convert unpacked with dpkg -x
# converts the example exactly.
#   scripts/check-package.sh build-test/trimeld_<version>_amd64.deb
set -eu
deb=$1
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

echo "== $deb"
dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"

for path in \
    usr/bin/trimeld \
    usr/bin/trimeld-convert \
    usr/share/applications/trimeld.desktop \
    usr/share/icons/hicolor/scalable/apps/trimeld.svg \
    usr/share/man/man1/trimeld.1.gz \
    usr/share/man/man1/trimeld-convert.1.gz \
    usr/share/doc/trimeld/copyright \
    usr/share/metainfo/io.github.trimeld.Trimeld.metainfo.xml
do
    echo "$contents" | grep -q " \./$path\$" || fail "$path is missing"
done

depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libstdc++6 libicu72 libqt6core6 libqt6widgets6 libqt6svg6; do
    echo "$depends" | grep -q "\\b$library\\b" || fail "Depends lacks $library: $depends"
done

dpkg -x "$deb" "$work/root"
for binary in "$work/root/usr/bin/trimeld" "$work/root/usr/bin/trimeld-convert"; do
    if readelf --dynamic "$binary" | grep -Eq 'RUNPATH|RPATH'; then
        fail "$(basename "$binary") carries a run path"
    fi
done
desktop-file-validate "$work/root/usr/share/applications/trimeld.desktop" ||
    fail "the desktop entry does not validate"
appstreamcli validate --no-net \
    "$work/root/usr/share/metainfo/io.github.trimeld.Trimeld.metainfo.xml" ||
    fail "the AppStream data does not validate"
gzip -t "$work/root/usr/share/man/man1/trimeld.1.gz" \
    "$work/root/usr/share/man/man1/trimeld-convert.1.gz" || fail "a manual page is no gzip file"
grep -q "MIT License" "$work/root/usr/share/doc/trimeld/copyright" || fail "the licence is not MIT's"

version=$(dpkg-deb --field "$deb" Version)
[ "$("$work/root/usr/bin/trimeld-convert" --version)" = "trimeld-convert $version" ] ||
    fail "trimeld-convert --version does not say $version"
"$work/root/usr/bin/trimeld-convert" --quiet "$here/examples/tetrahedron.stl" "$work/tetrahedron.raw" ||
    fail "the unpacked trimeld-convert failed"
cmp "$work/tetrahedron.raw" "$here/examples/tetrahedron.raw" ||
    fail "the unpacked trimeld-convert wrote another RAW file"
[ "$(QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/trimeld" --version 2>/dev/null)" = "trimeld $version" ] ||
    fail "trimeld --version does not say $version"

if [ "$failed" -ne 0 ]; then
    echo "== the package check failed"
    exit 1
fi
echo "== the package is complete, and its trimeld-convert runs"
