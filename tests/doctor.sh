#!/bin/sh
# lbxctl doctor, each hint provoked by its cause. Runs inside scripts/netns-run,
# whose namespace has the adapter lbx0 (10.77.0.1/24, default route). This adds
#   site A behind lbx0: converters on 10.77.0.2-4;
#   lbxb0 (10.78.0.1/24): an adapter with no converters behind it;
#   lbxd0 (10.99.0.1/24): an adapter that is down;
#   lbxl0 (169.254.7.7/16): an adapter that got no address from DHCP;
#   lbxr0 (10.79.0.1/24): a router to converters on 10.80.0.2-4, in no local subnet;
# then a host that answers rubbish, and replies dropped by an nftables rule.
#
#   doctor.sh LBXCTL LBXSIM
set -eu
lbxctl=$1
lbxsim=$2
. "$(dirname "$0")/shelltest.sh"
cleanup_also() { nft delete table inet lbxdoctor 2>/dev/null || true; }

ip link add lbxb0 type veth peer name lbxb1
ip addr add 10.78.0.1/24 dev lbxb0
ip link set lbxb0 up
ip link set lbxb1 up
ip link add lbxd0 type veth peer name lbxd1
ip addr add 10.99.0.1/24 dev lbxd0
ip link add lbxl0 type veth peer name lbxl1
ip addr add 169.254.7.7/16 dev lbxl0
ip link set lbxl0 up
ip link set lbxl1 up
ip link add lbxr0 type veth peer name lbxr1
ip addr add 10.79.0.1/24 dev lbxr0
ip link set lbxr0 up
site a lbx1 10.77.0 SITEA
site r lbxr1 10.79.0 ROUTED 10.80.0
ip route add 10.80.0.0/24 via 10.79.0.2
wait_for_sites a r

doctor() { "$lbxctl" doctor --timeout 0.5 "$@" >"$work/doctor" 2>&1 || true; }
has() { grep -qF -- "$1" "$work/doctor" && echo yes || { cat "$work/doctor" >&2; echo no; }; }

doctor
check "the adapters are listed, down ones too" \
    "$(grep -c '^  lbx[bdlr0]0* *1[06]' "$work/doctor")" 5
check "an adapter that is down" "$(has 'adapter lbxd0 (10.99.0.1) is down')" yes
check "an adapter with only a link-local address" \
    "$(has 'adapter lbxl0 has only a link-local address (169.254.7.7)')" yes
check "an adapter with no converters behind it" \
    "$(has 'no converter answered through adapter lbxb0 (10.78.0.1/24)')" yes
check "answers are counted per adapter" "$(has 'through lbx0 (10.77.0.1): 6 datagrams')" yes
check "converters behind a router" \
    "$(has 'ROUTED000001 at 10.80.0.2 lies in no local subnet')" yes
check "and what to do about them" "$(has 'ask it with --host 10.80.0.2')" yes
check "no hint that nothing came back" "$(grep -c 'nothing came back' "$work/doctor")" 0

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
until ss -lun 2>/dev/null | grep -q ':12166 ' || [ $tries -gt 100 ]; do
    tries=$((tries + 1))
    sleep 0.02
done
doctor
check "datagrams that are no converter's are counted by why" \
    "$(grep -c '^Dropped: [1-9][0-9]* not JSON, [1-9][0-9]* naming a member twice, [1-9][0-9]* with an unknown ack' "$work/doctor")" 1
check "and hinted at" "$(has 'datagrams that no converter sends reached this computer')" yes

if nft add table inet lbxdoctor 2>"$work/nft" &&
    nft add chain inet lbxdoctor input '{ type filter hook input priority 0; }' 2>>"$work/nft" &&
    nft add rule inet lbxdoctor input udp sport 12166 drop 2>>"$work/nft"; then
    doctor
    check "replies dropped by a firewall: the rule to allow them" \
        "$(has 'nft add rule inet filter input udp sport 12166 accept')" yes
    check "and for ufw" "$(has 'ufw allow proto udp from any port 12166')" yes
    check "and --host for converters behind a router" "$(has 'with --host ADDRESS')" yes
else
    echo "SKIP: replies dropped by a firewall: nftables refused here: $(cat "$work/nft")"
fi

[ $failures -eq 0 ] || exit 1
