#!/bin/sh
# Installs the build into a throwaway prefix, checks where the files went,
# builds a small program of another project against it both ways (CMake's
# find_package and pkg-config) and runs each against the virtual instrument.
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
for f in include/ca410.h include/ca410_version.h \
         "$libdir/libca410.so.$version" "$libdir/cmake/ca410/ca410Config.cmake" \
         "$libdir/cmake/ca410/ca410ConfigVersion.cmake" "$libdir/pkgconfig/ca410.pc" \
         share/doc/ca410/README.md share/doc/ca410/LICENSE share/doc/ca410/examples/ca410_open.c; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done
[ "$(readlink "$prefix/$libdir/libca410.so")" = "libca410.so.$major" ] || fail "libca410.so link"
[ "$(readlink "$prefix/$libdir/libca410.so.$major")" = "libca410.so.$version" ] ||
    fail "libca410.so.$major link"
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
"$cc" -std=c99 -Wall -Wextra -Werror -pedantic $cflags $(pkg-config --cflags ca410) \
    -o "$work/by-pkg-config" "$src/tests/install/consumer/consumer.c" \
    $(pkg-config --libs ca410) -Wl,-rpath,"$pc_libdir" || fail "pkg-config consumer did not build"

for consumer in "$work/by-cmake/consumer" "$work/by-pkg-config"; do
    ldd "$consumer" | grep -q "libca410.so.$major => $prefix/$libdir/" ||
        fail "$consumer does not load the installed library: $(ldd "$consumer" | grep ca410)"
    out=$(sh "$src/examples/run_with_sim.sh" "$sim" "$consumer") ||
        { echo "$out" >&2; fail "$consumer failed against the simulator"; }
    echo "$out"
    case $out in
    *"ca410 $version ("*) ;;
    *) fail "$consumer did not print version $version" ;;
    esac
done
echo "install_and_consume: installed, found both ways, identified the simulator"
