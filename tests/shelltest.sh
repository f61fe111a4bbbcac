# shellcheck shell=sh
# Sourced by the shell tests: a work folder ($work), the pids of what they start
# ($pids), stopped at exit along with what cleanup_also undoes, check() (from
# scripts/lib/common.sh), and converter sites in child network namespaces
# (inside scripts/netns-run; site() needs $lbxsim).
# shellcheck source=scripts/lib/common.sh
. "$(dirname "$0")/../scripts/lib/common.sh"

# These tests make adapters and send datagrams: only inside scripts/netns-run.
if [ -z "${LBX_SANDBOX:-}" ] || [ "$LBX_SANDBOX" != "$(readlink /proc/self/ns/net)" ]; then
    echo "refused: $0 runs only inside the private network namespace of scripts/netns-run" >&2
    exit 1
fi

work=$(mktemp -d)
pids=""
cleanup_also() { :; }
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    cleanup_also
    rm -rf "$work"
}
trap cleanup EXIT


# site NAME FAR-END SUBNET UUID-PREFIX [ROUTED-SUBNET]: the far end of the cable
# moves into a child namespace, which starts three converters once the cable is
# there: on SUBNET.2-4, or behind the child as a router, on ROUTED-SUBNET.2-4.
site() {
    unshare -n sh -c '
        while ! ip link show "$1" >/dev/null 2>&1; do sleep 0.02; done
        ip link set lo up
        ip link set "$1" up
        if [ -n "$5" ]; then
            ip addr add "$2.2/24" dev "$1"
            for n in 2 3 4; do ip addr add "$5.$n/32" dev lo; done
            base=$5.2
        else
            for n in 2 3 4; do ip addr add "$2.$n/24" dev "$1"; done
            base=$2.2
        fi
        ip route add default via "$2.1"
        exec "$3" --base "$base" --count 3 --uuid-prefix "$4"' \
        site "$2" "$3" "${lbxsim:?site needs \$lbxsim}" "$4" "${5:-}" >"$work/$1.log" 2>&1 &
    child=$!
    pids="$pids $child"
    # Until the child has made its namespace, a move would leave the cable here.
    tries=0
    while [ "$(readlink "/proc/$child/ns/net")" = "$(readlink /proc/self/ns/net)" ]; do
        tries=$((tries + 1))
        [ $tries -lt 250 ] || { echo "FAIL: the site's namespace did not appear"; exit 1; }
        sleep 0.02
    done
    ip link set "$2" netns "$child"
}

# wait_for_sites NAME...: until the converters of each (logging to $work/NAME.log) listen.
wait_for_sites() {
    for name in "$@"; do
        tries=0
        until grep -q ' converters on ' "$work/$name.log"; do
            tries=$((tries + 1))
            [ $tries -lt 250 ] || { echo "FAIL: site $name did not start:"; cat "$work/$name.log"; exit 1; }
            sleep 0.02
        done
    done
}
