#!/bin/sh
# Builds the Debian package with CPack, unpacks it into a throwaway root
# (dpkg -x) and checks its name, fields, files, library links and SONAME.
#   check_deb.sh BUILD VERSION LIBDIR CPACK
set -eu
build=$1 version=$2 libdir=$3 cpack=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_deb: $*" >&2; exit 1; }
major=${version%%.*}

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb=$work/out/ca410_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/out")"
for field in Package:ca410 Version:$version Architecture:$arch; do
    [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "${field#*:}" ] || fail "control field ${field%%:*}"
done

root=$work/root
dpkg -x "$deb" "$root"
(cd "$root" && find . ! -type d | sort) >"$work/files"
cat "$work/files"
for f in usr/bin/ca410 usr/bin/ca410-sim usr/include/ca410.h usr/include/ca410_version.h \
         usr/include/ca410_colour.h "usr/$libdir/libca410.so" "usr/$libdir/libca410.so.$major" \
         "usr/$libdir/libca410.so.$version" "usr/$libdir/pkgconfig/ca410.pc" \
         "usr/$libdir/libca410_colour.so.$version" "usr/$libdir/pkgconfig/ca410_colour.pc" \
         "usr/$libdir/cmake/ca410/ca410Config.cmake" "usr/$libdir/cmake/ca410/ca410Targets.cmake" \
         usr/share/doc/ca410/LICENSE usr/share/doc/ca410/README.md \
         usr/share/doc/ca410/examples/ca410_open.c; do
    grep -qx "./$f" "$work/files" || fail "missing from the package: $f"
done
! grep -v '^\./usr/' "$work/files" || fail "files outside /usr"
[ "$(readlink "$root/usr/$libdir/libca410.so")" = "libca410.so.$major" ] || fail "libca410.so link"
[ "$(readlink "$root/usr/$libdir/libca410.so.$major")" = "libca410.so.$version" ] ||
    fail "libca410.so.$major link"
for lib in ca410 ca410_colour; do
    soname=$(readelf -d "$root/usr/$libdir/lib$lib.so.$version" |
        sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
    [ "$soname" = "lib$lib.so.$major" ] || fail "SONAME of lib$lib is '$soname'"
done
grep -qx 'prefix=/usr' "$root/usr/$libdir/pkgconfig/ca410.pc" || fail "ca410.pc prefix"
[ "$("$root/usr/bin/ca410-sim" --version)" = "ca410-sim $version" ] || fail "ca410-sim --version"
echo "check_deb: $(basename "$deb") holds the libraries (SONAME lib...so.$major), headers and tools"
