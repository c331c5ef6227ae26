#!/usr/bin/env bash
# The install tree: `cmake --install` into a scratch prefix (with a space in its
# path, as the desktop entry must quote it), every file in place, the ini/
# folder open to every user, the desktop entry valid, the icons at their sizes,
# and the uninstall script taking away what was installed and nothing else.
#   test_install.sh BUILDDIR SOURCEDIR
# The component "Unspecified" is what `make install` installs; naming it keeps
# the build folder's install_manifest.txt (a real installation's) untouched.
set -u
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix="$work/pasta com espaço/krvw"
install_tree() {
    cmake --install "$build" --component Unspecified --prefix "$prefix" > "$work/install.log" 2>&1 ||
        { fail "cmake --install: $(tail -n 5 "$work/install.log")"; return 1; }
}
uninstall_tree() {
    cmake -DMANIFEST="$build/install_manifest_Unspecified.txt" -P "$source/cmake/Uninstall.cmake" \
        > "$work/uninstall.log" 2>&1 || fail "uninstall: $(tail -n 5 "$work/uninstall.log")"
}

install_tree || exit 1

for program in krvw krvw-tool krvw-tracer-sim; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program missing or not executable"
done
[ -d "$prefix/bin/ini" ] || fail "no bin/ini folder"
[ "$(stat -c %a "$prefix/bin/ini")" = 777 ] || fail "bin/ini has mode $(stat -c %a "$prefix/bin/ini")"
"$prefix/bin/krvw-tool" --help | grep -q 'krvw-tool render' || fail "installed krvw-tool does not run"

# Each icon a PNG of its size: the IHDR's width and height, big-endian.
for size in 48 128 256; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/krvw.png"
    hex=$(printf '%08x%08x' "$size" "$size")
    [ "$(head -c 24 "$icon" 2> /dev/null | tail -c 8 | od -An -tx1 | tr -d ' \n')" = "$hex" ] ||
        fail "icon $size x $size missing or of another size"
done
[ -s "$prefix/share/doc/krvw/manual.md" ] || fail "no user guide"
for image in principal parametros sobre; do
    [ -s "$prefix/share/doc/krvw/images/$image.png" ] || fail "no docs image $image.png"
done

desktop="$prefix/share/applications/krvw.desktop"
if [ ! -f "$desktop" ]; then
    fail "no desktop entry"
elif command -v desktop-file-validate > /dev/null 2>&1; then
    desktop-file-validate "$desktop" > "$work/validate" 2>&1 || fail "desktop-file-validate failed"
    grep -q . "$work/validate" && fail "desktop-file-validate: $(cat "$work/validate")"
else
    echo "desktop-file-validate is not installed: checking the entry's keys only"
    [ "$(head -n 1 "$desktop")" = "[Desktop Entry]" ] || fail "desktop entry: no [Desktop Entry] group"
    for key in Type=Application Name= Comment= Exec= Icon= Categories=; do
        grep -q "^$key" "$desktop" || fail "desktop entry: no $key"
    done
    grep -Eq '^Categories=([A-Za-z]+;)+$' "$desktop" || fail "desktop entry: Categories"
fi
# The prefix has spaces: Exec holds the program's path in double quotes.
[ "$(grep '^Exec=' "$desktop")" = "Exec=\"$prefix/bin/krvw\"" ] ||
    fail "desktop entry: $(grep '^Exec=' "$desktop")"
[ "$(grep '^Icon=' "$desktop")" = "Icon=$prefix/share/icons/hicolor/256x256/apps/krvw.png" ] ||
    fail "desktop entry: $(grep '^Icon=' "$desktop")"
grep -q '^Name=Leitor de Tracer$' "$desktop" || fail "desktop entry: Name"

# Nothing outside the prefix: what the Debian package adds elsewhere is not
# part of the tree.
outside=$(grep -vF "$prefix/" "$build/install_manifest_Unspecified.txt")
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
[ "$(ls -A "$work/pasta com espaço")" = krvw ] || fail "files beside the prefix"

# Uninstall: everything goes, the folders with it.
uninstall_tree
[ -e "$prefix" ] && fail "after uninstall: $(cd "$prefix" && find . | head -n 5 | tr '\n' ' ')"

# A configuration the program wrote stays, in its folder; the rest goes.
install_tree || exit 1
printf 'MODELOTRACER=1\r\n' > "$prefix/bin/ini/krvw.ini"
uninstall_tree
[ -f "$prefix/bin/ini/krvw.ini" ] || fail "uninstall removed the configuration"
[ "$(cd "$prefix" && find . | sort | tr '\n' ' ')" = ". ./bin ./bin/ini ./bin/ini/krvw.ini " ] ||
    fail "left after uninstall: $(cd "$prefix" && find . | tr '\n' ' ')"

[ $failures -eq 0 ] && echo "install tree: all checks passed"
exit $((failures > 0))
