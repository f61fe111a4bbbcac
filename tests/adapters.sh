#!/bin/sh
# lbxctl across adapters, and doctor's hint for each cause it knows. Runs inside
# scripts/netns-run, whose namespace has the adapter lbx0 (10.77.0.1/24, default
# route). Each site below is a child namespace at the far end of a veth pair,
# with three simulated converters:
#   site A behind lbx0: 10.77.0.2-4;  site B behind lbxb0 (10.78.0.1/24): 10.78.0.2-4;
#   lbxr0 (10.79.0.1/24): a router to converters on 10.80.0.2-4, in no local subnet;
#   lbxe0 (10.81.0.1/24): no converters; lbxd0 (10.99.0.1/24): down;
#   lbxl0 (169.254.7.7/16): an adapter that got no address from DHCP;
# then sweeps where broadcasts are dropped, a host that answers rubbish, and
# replies dropped by an nftables rule.
#
#   adapters.sh LBXCTL LBXSIM
set -eu
lbxctl=$1
export lbxsim="$2" # for site()
# shellcheck source=tests/shelltest.sh
. "$(dirname "$0")/shelltest.sh"
cleanup_also() {
    nft delete table inet lbxsweep 2>/dev/null || true
    nft delete table inet lbxdoctor 2>/dev/null || true
}

adapter() { # NAME ADDRESS [down]
    ip link add "$1" type veth peer name "${1%0}1"
    ip addr add "$2" dev "$1"
    [ "${3:-}" = down ] || ip link set "$1" up
}
adapter lbxb0 10.78.0.1/24
adapter lbxr0 10.79.0.1/24
adapter lbxe0 10.81.0.1/24
ip link set lbxe1 up
adapter lbxd0 10.99.0.1/24 down
adapter lbxl0 169.254.7.7/16
ip link set lbxl1 up
site a lbx1 10.77.0 SITEA
site b lbxb1 10.78.0 SITEB
site r lbxr1 10.79.0 ROUTED 10.80.0
ip route add 10.80.0.0/24 via 10.79.0.2
wait_for_sites a b r

uuids() { "$lbxctl" discover --json --timeout 0.5 "$@" | sed 's/.*"uuid":"\([^"]*\)".*/\1/' | sort | tr '\n' ' '; }
check "the default search finds the converters behind every adapter" "$(uuids)" \
    "ROUTED000001 ROUTED000002 ROUTED000003 SITEA000001 SITEA000002 SITEA000003 SITEB000001 SITEB000002 SITEB000003 "
check "--interface lbxb0 finds site B only" "$(uuids --interface lbxb0)" "SITEB000001 SITEB000002 SITEB000003 "
status=0
"$lbxctl" discover --interface lbxnone --timeout 0.5 >/dev/null 2>&1 || status=$?
check "an adapter that is not there is bad input" "$status" 2
check "one call sets a converter on each side" \
    "$("$lbxctl" set SITEA000002 SITEB000003 --baud 38400 --timeout 0.5 | tr -s ' ' | sort | tr '\n' ';')" \
    "SITEA000002 10.77.0.3 set: answered;SITEB000003 10.78.0.4 set: answered;"

doctor() {
    status=0
    "$lbxctl" doctor --timeout 0.5 "$@" >"$work/doctor" 2>&1 || status=$?
}
has() {
    if grep -qF -- "$1" "$work/doctor"; then
        echo yes
    else
        cat "$work/doctor" >&2
        echo no
    fi
}
doctor --host 10.80.0.2
check "asked by --host, a converter behind a router needs no hint to be" \
    "$(grep -c 'ask it with --host' "$work/doctor")" 0
doctor
check "doctor succeeds while converters answer" "$status" 0
check "the adapters are listed, down ones too" "$(grep -c '^  lbx[bdelr0]0* *1[06]' "$work/doctor")" 6
check "an adapter that is down" "$(has 'adapter lbxd0 (10.99.0.1) is down')" yes
check "no firewall hint while converters answer" "$(grep -c 'nft add rule' "$work/doctor")" 0
check "an adapter with only a link-local address" \
    "$(has 'adapter lbxl0 has only a link-local address (169.254.7.7)')" yes
check "an adapter with no converters behind it, and the sweep that would ask each address" \
    "$(has 'no converter answered through adapter lbxe0 (10.81.0.1/24)'):$(has 'a sweep asks each address of that network: --sweep 10.81.0.0/24')" yes:yes
check "answers are counted per adapter" "$(has 'through lbx0 (10.77.0.1): 6 datagrams')" yes
check "converters behind a router, and what to do about them" \
    "$(has 'ROUTED000001 at 10.80.0.2 lies in no local subnet'):$(has 'ask it with --host 10.80.0.2, or its neighbours too with --sweep 10.80.0.0/24')" yes:yes

# A router that forwards no broadcast, and a LAN whose switches filter them:
# the broadcasts to site A and to the router are dropped on their way out.
if nft add table inet lbxsweep 2>"$work/nft" &&
    nft add chain inet lbxsweep output '{ type filter hook output priority 0; }' 2>>"$work/nft" &&
    nft add rule inet lbxsweep output ip daddr '{ 255.255.255.255, 10.77.0.255, 10.79.0.255 }' \
        udp dport 12166 drop 2>>"$work/nft"; then
    check "broadcasts dropped: only site B answers the search" "$(uuids)" \
        "SITEB000001 SITEB000002 SITEB000003 "
    check "a sweep finds the converters behind the router, and those of the filtered LAN" \
        "$(uuids --sweep 10.80.0.0/24 --sweep 10.77.0.0/24)" \
        "ROUTED000001 ROUTED000002 ROUTED000003 SITEA000001 SITEA000002 SITEA000003 "
    check "a sweep merged with --host lists each converter once" \
        "$(uuids --host 10.80.0.3 --sweep 10.80.0.0/30 --retries 1)" "ROUTED000001 ROUTED000002 "
    # Answers still on their way when this computer refuses to send to one address.
    "$lbxsim" --base 127.0.5.1 --count 3 --delay 300 --uuid-prefix SLOW >"$work/slow.log" 2>&1 &
    slow=$!
    pids="$pids $slow"
    nft add rule inet lbxsweep output ip daddr 127.0.5.2 udp dport 12166 drop
    until grep -q ' converters on ' "$work/slow.log"; do sleep 0.02; done
    check "a sweep goes on past an address it may not send to, and loses no answer" \
        "$(uuids --sweep 127.0.5.0/29 --timeout 1 2>&1)" "SLOW000001 SLOW000003 "
    kill "$slow"
    wait "$slow" 2>/dev/null || true
    nft delete table inet lbxsweep
else
    echo "SKIP: sweeps where broadcasts are dropped: nftables refused here: $(cat "$work/nft")"
fi

# A host on the converters' port that answers rubbish.
cat >"$work/rubbish.py" <<'PY'
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 12166))
while True:
    _, sender = s.recvfrom(65536)
    for reply in (b"not json", b'{"ack":"lbx.info","a":1,"a":2}', b'{"ack":"lbx.other"}'):
        s.sendto(reply, sender)
PY
python3 "$work/rubbish.py" &
pids="$pids $!"
tries=0
until ss -lun 2>/dev/null | grep -q '0.0.0.0:12166 ' || [ $tries -gt 100 ]; do
    tries=$((tries + 1))
    sleep 0.02
done
doctor
check "datagrams that are no converter's are counted by why, and hinted at" \
    "$(grep -c '^Dropped: [1-9][0-9]* not JSON, [1-9][0-9]* naming a member twice, [1-9][0-9]* with an unknown ack' "$work/doctor"):$(has 'datagrams that no converter sends reached this computer')" 1:yes

if nft add table inet lbxdoctor 2>"$work/nft" &&
    nft add chain inet lbxdoctor input '{ type filter hook input priority 0; }' 2>>"$work/nft" &&
    nft add rule inet lbxdoctor input udp sport 12166 drop 2>>"$work/nft"; then
    doctor
    check "replies dropped by a firewall: the rules to allow them, and --host; no success" \
        "$(has 'nft add rule inet filter input udp sport 12166 accept'):$(has 'ufw allow proto udp from any port 12166'):$(has 'with --host ADDRESS'):$status" yes:yes:yes:1
else
    echo "SKIP: replies dropped by a firewall: nftables refused here: $(cat "$work/nft")"
fi

[ "$failures" -eq 0 ] || exit 1
