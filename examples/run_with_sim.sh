#!/bin/sh
# Starts the virtual instrument, runs a C example against its port, and
# checks that the example succeeded and printed the expected text.
#   run_with_sim.sh CA410_SIM EXPECTED EXAMPLE [ARGS...]
# The example is called as EXAMPLE PORT ARGS...
set -u
sim=$1
expected=$2
example=$3
shift 3
dir=$(mktemp -d)
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$dir"' EXIT

"$sim" --link "$dir/port" >"$dir/sim.log" 2>&1 &
sim_pid=$!

# Up to 10 s for the simulator to come up on a loaded machine.
tries=0
while [ ! -e "$dir/port" ]; do
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "ca410-sim exited early:" >&2
        cat "$dir/sim.log" >&2
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "ca410-sim did not come up" >&2
        exit 1
    fi
    sleep 0.1
done

out=$("$example" "$dir/port" "$@" 2>&1)
rc=$?
echo "$out"
[ "$rc" -eq 0 ] || exit 1
case "$out" in
*"$expected"*) exit 0 ;;
*) echo "the example did not print \"$expected\"" >&2; exit 1 ;;
esac
