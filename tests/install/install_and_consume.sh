#!/bin/sh
# Installs the build into a throwaway prefix, checks where the files went,
# builds a small program of another project against it both ways (CMake's
# find_package and pkg-config) and runs each against the virtual instrument:
# it measures the display's white and takes its chromaticity.
#   install_and_consume.sh BUILD SOURCE VERSION LIBDIR CC CMAKE GENERATOR SIM [CFLAGS]
# SIM is the simulator: relative to the prefix when the tools are installed.
set -eu
build=$1 src=$2 version=$3 libdir=$4 cc=$5 cmake=$6 generator=$7 sim=$8 cflags=${9:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install_and_consume: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "cmake --install failed"; }
major=${version%%.*}
for f in include/ca410.h include/ca410_version.h include/ca410_colour.h \
         "$libdir/cmake/ca410/ca410Config.cmake" "$libdir/cmake/ca410/ca410ConfigVersion.cmake" \
         share/doc/ca410/README.md share/doc/ca410/LICENSE share/doc/ca410/examples/ca410_open.c; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done
for lib in ca410 ca410_colour; do
    [ -f "$prefix/$libdir/pkgconfig/$lib.pc" ] || fail "not installed: $lib.pc"
    [ -f "$prefix/$libdir/lib$lib.so.$version" ] || fail "not installed: lib$lib.so.$version"
    [ "$(readlink "$prefix/$libdir/lib$lib.so")" = "lib$lib.so.$major" ] || fail "lib$lib.so link"
    [ "$(readlink "$prefix/$libdir/lib$lib.so.$major")" = "lib$lib.so.$version" ] ||
        fail "lib$lib.so.$major link"
done
case $sim in
/*) ;;
*)
    sim=$prefix/$sim
    for tool in ca410 ca410-sim; do
        readelf -d "$prefix/bin/$tool" | grep -q 'R.*PATH.*\[\$ORIGIN/' ||
            fail "$tool has no run path relative to itself"
    done
    [ "$("$sim" --version)" = "ca410-sim $version" ] || fail "ca410-sim --version"
    ;;
esac

# find_package, from this prefix and no other.
"$cmake" -S "$src/tests/install/consumer" -B "$work/by-cmake" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" 2>&1 &&
    "$cmake" --build "$work/by-cmake" >>"$work/cmake.log" 2>&1 ||
    { cat "$work/cmake.log" >&2; fail "find_package consumer did not build"; }
grep -q "^ca410_DIR:PATH=$prefix/" "$work/by-cmake/CMakeCache.txt" ||
    fail "find_package found another ca410: $(grep ^ca410_DIR "$work/by-cmake/CMakeCache.txt")"

# pkg-config, from this prefix and no other.
export PKG_CONFIG_LIBDIR="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --modversion ca410)" = "$version" ] || fail "pkg-config version"
pc_libdir=$(pkg-config --variable=libdir ca410)
[ "$pc_libdir" = "$prefix/$libdir" ] || fail "pkg-config libdir is $pc_libdir"
# shellcheck disable=SC2046,SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -pedantic $cflags $(pkg-config --cflags ca410 ca410_colour) \
    -o "$work/by-pkg-config" "$src/tests/install/consumer/consumer.c" \
    $(pkg-config --libs ca410 ca410_colour) -Wl,-rpath,"$pc_libdir" ||
    fail "pkg-config consumer did not build"

for consumer in "$work/by-cmake/consumer" "$work/by-pkg-config"; do
    for lib in ca410 ca410_colour; do
        ldd "$consumer" | grep -q "lib$lib.so.$major => $prefix/$libdir/" ||
            fail "$consumer does not load the installed lib$lib: $(ldd "$consumer" | grep ca410)"
    done
    # The simulator's default display shows white: D65 of Y = 100.
    out=$(sh "$src/examples/run_with_sim.sh" "$sim" "X 95.0500 Y 100.0000 Z 108.9000 x 0.3127 y 0.3290" \
        "$consumer") || { echo "$out" >&2; fail "$consumer failed against the simulator"; }
    echo "$out"
    case $out in
    *"ca410 $version ("*) ;;
    *) fail "$consumer did not print version $version" ;;
    esac
done
echo "install_and_consume: installed, found both ways, measured from the simulator"
