#!/bin/sh
# The installed tree's files, library links and SONAMEs, in a throwaway prefix
# where a small C program is built with find_package and with pkg-config and
# run against the simulator SIM (relative to the prefix when installed there);
# and in the Debian package built by CPack, with its control fields.
#   check_install.sh prefix BUILD SOURCE VERSION LIBDIR CC CMAKE GENERATOR SIM [CFLAGS [TOOLCHAIN]]
#   check_install.sh deb BUILD VERSION LIBDIR CPACK
set -eu
mode=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_install $mode: $*" >&2; exit 1; }
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "failed: $*"; }; }

check_tree() {
    for f in include/ca410.h include/ca410_version.h include/ca410_colour.h \
             "$libdir/cmake/ca410/ca410Config.cmake" "$libdir/cmake/ca410/ca410ConfigVersion.cmake" \
             "$libdir/cmake/ca410/ca410Targets.cmake" share/doc/ca410/README.md \
             share/doc/ca410/LICENSE share/doc/ca410/copyright share/doc/ca410/examples/ca410_open.c; do
        [ -f "$1/$f" ] || fail "not installed: $f"
    done
    for lib in ca410 ca410_colour; do
        [ -f "$1/$libdir/pkgconfig/$lib.pc" ] || fail "not installed: $lib.pc"
        [ "$(readlink "$1/$libdir/lib$lib.so")" = "lib$lib.so.$major" ] || fail "lib$lib.so link"
        [ "$(readlink "$1/$libdir/lib$lib.so.$major")" = "lib$lib.so.$version" ] ||
            fail "lib$lib.so.$major link"
        soname=$(readelf -d "$1/$libdir/lib$lib.so.$version" |
            sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
        [ "$soname" = "lib$lib.so.$major" ] || fail "SONAME of lib$lib is '$soname'"
    done
}

if [ "$mode" = deb ]; then
    version=$3 libdir=$4 major=${3%%.*}
    quiet "$5" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out"
    arch=$(dpkg --print-architecture)
    deb=$work/out/ca410_${version}_${arch}.deb
    [ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/out")"
    for field in Package:ca410 Version:$version Architecture:$arch; do
        [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "${field#*:}" ] || fail "control field ${field%%:*}"
    done
    dpkg -x "$deb" "$work/root"
    ! (cd "$work/root" && find . ! -type d) | grep -v '^\./usr/' || fail "files outside /usr"
    check_tree "$work/root/usr"
    grep -qx 'prefix=/usr' "$work/root/usr/$libdir/pkgconfig/ca410.pc" || fail "ca410.pc prefix"
    [ -x "$work/root/usr/bin/ca410" ] || fail "no ca410 tool"
    [ "$("$work/root/usr/bin/ca410-sim" --version)" = "ca410-sim $version" ] || fail "ca410-sim"
    echo "check_install: $(basename "$deb") holds the libraries, headers and tools"
    exit 0
fi

src=$3 version=$4 libdir=$5 cc=$6 cmake=$7 generator=$8 sim=$9 cflags=${10:-} toolchain=${11:-}
major=${version%%.*} prefix=$work/prefix
quiet "$cmake" --install "$build" --prefix "$prefix"
check_tree "$prefix"
case $sim in /*) ;; *) sim=$prefix/$sim ;; esac
[ "$("$sim" --version)" = "ca410-sim $version" ] || fail "ca410-sim --version"

# find_package and pkg-config, from this prefix and no other.
quiet "$cmake" -S "$src/tests/install/consumer" -B "$work/by-cmake" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_PREFIX_PATH="$prefix" \
    ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$toolchain"} -DCMAKE_BUILD_TYPE=Release
quiet "$cmake" --build "$work/by-cmake"
grep -q '^set(ca410_LICENSE "MIT")$' "$prefix/$libdir/cmake/ca410/ca410Config.cmake" ||
    fail "the CMake package does not carry the licence"
grep -q "^ca410_DIR:PATH=$prefix/" "$work/by-cmake/CMakeCache.txt" ||
    fail "find_package found another ca410: $(grep ^ca410_DIR "$work/by-cmake/CMakeCache.txt")"
export PKG_CONFIG_LIBDIR="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --modversion ca410)" = "$version" ] || fail "pkg-config version"
[ "$(pkg-config --variable=libdir ca410)" = "$prefix/$libdir" ] || fail "pkg-config libdir"
# shellcheck disable=SC2046,SC2086
quiet "$cc" -std=c99 -Wall -Wextra -Werror -pedantic $cflags \
    $(pkg-config --cflags ca410 ca410_colour) -o "$work/by-pkg-config" \
    "$src/tests/install/consumer/consumer.c" $(pkg-config --libs ca410 ca410_colour) \
    -Wl,-rpath,"$prefix/$libdir"

for consumer in "$work/by-cmake/consumer" "$work/by-pkg-config"; do
    for lib in ca410 ca410_colour; do
        ldd "$consumer" | grep -q "lib$lib.so.$major => $prefix/$libdir/" ||
            fail "$consumer does not load the installed lib$lib: $(ldd "$consumer" | grep ca410)"
    done
    # The simulator's default display shows white: D65 of Y = 100.
    out=$(sh "$src/examples/run_with_sim.sh" "$sim" \
        "X 95.0500 Y 100.0000 Z 108.9000 x 0.3127 y 0.3290" "$consumer") ||
        { echo "$out" >&2; fail "$consumer failed against the simulator"; }
    case $out in
    *"ca410 $version ("*) ;;
    *) fail "$consumer did not print version $version: $out" ;;
    esac
done
echo "check_install: installed, found both ways, measured from the simulator"
