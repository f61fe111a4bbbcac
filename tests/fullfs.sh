#!/bin/sh
# Every file lbxctl writes is written whole or not at all, a full file system
# included: the roster, the metrics, a CSV list and an apply's backup, each
# onto a tmpfs of 64 KiB filled to the last byte (in a user and mount
# namespace of its own, which needs no root). Runs inside scripts/netns-run.
#
#   fullfs.sh LBXCTL LBXSIM
set -u
lbxctl=$1
lbxsim=$2
# shellcheck source=tests/shelltest.sh
. "$(dirname "$0")/shelltest.sh"

"$lbxsim" --count 2 --journal "$work/journal" >"$work/lbxsim.log" 2>&1 &
pids="$pids $!"
wait_for_sites lbxsim
printf 'uuid,baud,plugin\nLBXSIM000001,19200,\n' >"$work/plan.csv"
printf '{"converters":[{"uuid":"KEEP ME"}]}\n' >"$work/good"

# on_full_disk FILE COMMAND...: COMMAND's exit status, with FILE (holding
# $work/good, unless FILE is "-new") on a file system with no byte left; then
# whether FILE came out as it went in: "kept", "absent", or "changed".
on_full_disk() {
    target=$1
    shift
    unshare -rm sh -c '
        fs=$1/fs; file=$2; shift 2
        mkdir -p "$fs" && mount -t tmpfs -o size=64k tmpfs "$fs" || exit 99
        case $file in -new) file=$fs/new ;; *) cp "$0" "$fs/$file"; file=$fs/$file ;; esac
        dd if=/dev/zero of="$fs/filler" bs=1k 2>/dev/null
        status=0
        "$@" "$file" >/dev/null 2>"$fs/../err" || status=$?
        if [ ! -e "$file" ]; then echo "$status absent"
        elif cmp -s "$0" "$file"; then echo "$status kept"
        else echo "$status changed"; fi' "$work/good" "$work" "$target" "$@"
}

check "a roster that cannot be saved leaves the old one" \
    "$(on_full_disk site.json "$lbxctl" discover --timeout 0.3 --save)" "74 kept"
check "metrics that cannot be written leave the old ones" \
    "$(on_full_disk lbx.prom "$lbxctl" check --expect 2 --timeout 0.3 --format openmetrics \
        --output)" "74 kept"
check "a CSV list that cannot be written leaves the old one" \
    "$(on_full_disk site.csv "$lbxctl" discover --timeout 0.3 --format csv --output)" "74 kept"
check "a backup that cannot be written sets nothing and leaves no file" \
    "$(on_full_disk -new "$lbxctl" apply "$work/plan.csv" --timeout 0.3 --backup)" "74 absent"
check "the reason is the full disk" "$(grep -c 'No space left on device' "$work/err")" 1
check "nothing was set" "$(grep -c '"lbx.set"' "$work/journal")" 0

echo "$failures failed"
[ "$failures" -eq 0 ]
