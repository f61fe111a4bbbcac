#!/bin/sh
# lbxctl across two adapters. Runs inside scripts/netns-run, whose namespace
# has the adapter lbx0 (10.77.0.1/24, default route). This adds a second one,
# lbxb0 (10.78.0.1/24), and behind each adapter a site: a child network
# namespace at the far end of the adapter's veth pair, with three simulated
# converters (site A on 10.77.0.2-4, site B on 10.78.0.2-4).
#
#   two_adapters.sh LBXCTL LBXSIM
set -eu
lbxctl=$1
lbxsim=$2
. "$(dirname "$0")/shelltest.sh"

ip link add lbxb0 type veth peer name lbxb1
ip addr add 10.78.0.1/24 dev lbxb0
ip link set lbxb0 up
site a lbx1 10.77.0 SITEA
site b lbxb1 10.78.0 SITEB
wait_for_sites a b

uuids() { "$lbxctl" discover --json --timeout 0.5 "$@" | sed 's/.*"uuid":"\([^"]*\)".*/\1/' | sort | tr '\n' ' '; }
addresses() { "$lbxctl" discover --json --timeout 0.5 "$@" | sed 's/.*"ip":"\([^"]*\)".*/\1/' | sort | tr '\n' ' '; }

check "the default search finds the converters behind both adapters" "$(uuids)" \
    "SITEA000001 SITEA000002 SITEA000003 SITEB000001 SITEB000002 SITEB000003 "
check "each answers from its own site's address" "$(addresses)" \
    "10.77.0.2 10.77.0.3 10.77.0.4 10.78.0.2 10.78.0.3 10.78.0.4 "
check "--interface lbxb0 finds site B only" "$(uuids --interface lbxb0)" "SITEB000001 SITEB000002 SITEB000003 "
check "--interface lbx0 finds site A only" "$(uuids --interface lbx0)" "SITEA000001 SITEA000002 SITEA000003 "
status=0
"$lbxctl" discover --interface lbxnone --timeout 0.5 >/dev/null 2>&1 || status=$?
check "an adapter that is not there is bad input" "$status" 2
check "one call sets a converter on each side" \
    "$("$lbxctl" set SITEA000002 SITEB000003 --baud 38400 --timeout 0.5 | tr -s ' ' | sort | tr '\n' ';')" \
    "SITEA000002 10.77.0.3 set: answered;SITEB000003 10.78.0.4 set: answered;"
check "and both sites show it" \
    "$("$lbxctl" discover --json --timeout 0.5 | grep -c '"baud":38400')" 2

[ $failures -eq 0 ] || exit 1
