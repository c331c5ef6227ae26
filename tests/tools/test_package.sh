#!/usr/bin/env bash
# The Debian package: cpack makes it from the build folder into a scratch
# folder, its control data and contents are checked, it is unpacked into a
# scratch root, and the program installed there starts on Qt's offscreen
# platform, writes its default configuration into its own ini/ folder and
# serves the default TCP port 55555, until it is stopped.
#   test_package.sh BUILDDIR [HARDENED]
# HARDENED (ON by default): the build uses the hardening flags, which the
# programs are checked for; a sanitizer build does not.
# Exit status 77 (skipped) without dpkg-deb.
set -u
build=$1
hardened=${2:-ON}
if ! command -v dpkg-deb > /dev/null 2>&1; then
    echo "SKIP: dpkg-deb is not installed (a Debian system's dpkg package): no package to check"
    exit 77
fi
work=$(mktemp -d)
program=
cleanup() {
    [ -n "$program" ] && kill "$program" 2> /dev/null && wait "$program" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" 2>&1; then
    echo "FAIL: cpack: $(tail -n 20 "$work/cpack.log")"
    exit 1
fi
deb=$(find "$work/package" -maxdepth 1 -name 'krvw_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "FAIL: cpack made no krvw_*.deb"; exit 1; }
echo "package: $(basename "$deb")"

# Control data: runtime dependencies, maintainer, description, section, priority.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6network6 libqt6gui6 libqt6core6 fonts-liberation \
    qt6-qpa-plugins; do
    echo "$depends" | grep -Eq "(^|, )$package( |,|$)" || fail "Depends lacks $package: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = krvw ] || fail "package name"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
[ "$(dpkg-deb -f "$deb" Section)" = misc ] || fail "section"
[ "$(dpkg-deb -f "$deb" Priority)" = optional ] || fail "priority"
dpkg-deb -f "$deb" Description | sed -n 2p | grep -q . || fail "no long description"

# Contents: the tree under /opt/krvw, and the Debian files outside it.
dpkg-deb -c "$deb" > "$work/contents"
for path in ./opt/krvw/bin/krvw ./opt/krvw/bin/krvw-tool ./opt/krvw/bin/krvw-tracer-sim \
    ./opt/krvw/share/applications/krvw.desktop ./usr/share/applications/krvw.desktop \
    ./opt/krvw/share/icons/hicolor/256x256/apps/krvw.png ./usr/share/doc/krvw/copyright \
    ./usr/share/doc/krvw/changelog.gz ./usr/share/lintian/overrides/krvw; do
    grep -q " $path\$" "$work/contents" || fail "the package lacks $path"
done
grep -Eq '^drwxr-xr-x root/root .* \./opt/krvw/bin/ini/$' "$work/contents" ||
    fail "ini/ is not a 0755 folder of root in the package: $(grep 'bin/ini' "$work/contents")"
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] || fail "no executable postinst"
grep -q '^ *chmod 0777 /opt/krvw/bin/ini$' "$work/control/postinst" ||
    fail "postinst does not open ini/"
if command -v lintian > /dev/null 2>&1; then
    lintian --fail-on error "$deb" > "$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
else
    echo "lintian is not installed: the package's lint is left to make package"
fi

# The installed program, from the scratch root.
root="$work/root"
dpkg -x "$deb" "$root" || { echo "FAIL: dpkg -x"; exit 1; }

# Each program hardened: position-independent, relocations read-only and bound
# at start, the stack protector and fortified C library calls in use (the
# simulator makes no C library call whose bounds the compiler knows, so it has
# none to fortify).
[ "$hardened" = ON ] || echo "a sanitizer build: the hardening flags are not checked"
for name in krvw krvw-tool krvw-tracer-sim; do
    [ "$hardened" = ON ] || break
    elf="$root/opt/krvw/bin/$name"
    readelf -h "$elf" | grep -Eq 'Type: +DYN' || fail "$name is not position-independent"
    readelf -l "$elf" | grep -q GNU_RELRO || fail "$name has no read-only relocations"
    readelf -d "$elf" | grep -Eq 'BIND_NOW|FLAGS_1.* NOW' || fail "$name is not bound at start"
    symbols=$(readelf --dyn-syms -W "$elf")
    echo "$symbols" | grep -q __stack_chk_fail || fail "$name has no stack protector"
    [ $name = krvw-tracer-sim ] || echo "$symbols" | grep -Eq '__[a-z_]+_chk(@| |$)' ||
        fail "$name has no fortified calls"
done
ini="$root/opt/krvw/bin/ini/krvw.ini"
listening() { (exec 3<> /dev/tcp/127.0.0.1/55555) 2> /dev/null; }
if listening; then
    echo "FAIL: something already listens on TCP port 55555: stop it and run the test again"
    exit 1
fi
mkdir -m 700 "$work/runtime"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" "$root/opt/krvw/bin/krvw" \
    > "$work/program.log" 2>&1 &
program=$!
expected=$(printf 'MODELOTRACER=1\r\nPORTATCP=55555\r\nPORTASERIAL=\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\nNOMSG=0\r\n')
served=false
for _ in $(seq 200); do # 200 x 0.1 s
    if [ -f "$ini" ] && [ "$(cat "$ini")" = "$expected" ] && listening; then
        served=true
        break
    fi
    kill -0 "$program" 2> /dev/null || break
    sleep 0.1
done
if ! $served; then
    [ -f "$ini" ] || fail "the installed program wrote no $ini"
    [ -f "$ini" ] && [ "$(cat "$ini")" != "$expected" ] && fail "configuration: $(od -c "$ini" | head)"
    listening || fail "the installed program does not listen on port 55555"
    kill -0 "$program" 2> /dev/null || fail "the program ended: $(cat "$work/program.log")"
fi
kill "$program" 2> /dev/null
wait "$program" 2> /dev/null
program=

[ $failures -eq 0 ] && echo "package: all checks passed"
exit $((failures > 0))
