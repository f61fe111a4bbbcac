#!/bin/sh
# What the package carries besides the programs, as Debian's own checkers read
# it: the manual pages, the desktop entry, the AppStream file and the
# monitoring unit's sandbox. Opens no socket.
#   tests/packaging.sh BUILD-DIR
set -u
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=scripts/lib/common.sh
. scripts/lib/common.sh
build=$1
failures=0

for page in lbxconfig lbxctl lbxsim; do
    check "man page $page.1 is mandoc-lint clean" \
        "$(mandoc -T lint -W warning "$build/docs/man/$page.1" 2>&1)" ""
done
# The commands as the program states them: each in the manual page's COMMANDS
# and, with its usage, in the table of docs/cli.md.
lbxctl() { LC_ALL=C.UTF-8 LANGUAGE='' "$build/tools/lbxctl/lbxctl" "$@"; }
commands=$(lbxctl --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\)  .*/\1/p')
check "lbxctl --version is the package's version" "$(lbxctl --version)" \
    "lbxctl $(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' data/changelog)"
check "lbxctl --help lists eight commands" "$(echo "$commands" | wc -l)" 8
check "lbxctl(1) and docs/cli.md state every command as the program does" \
    "$(for c in $commands; do
           mandoc -T utf8 "$build/docs/man/lbxctl.1" | col -b | grep -q "^       $c\$" || echo "$c"
           usage=$(lbxctl help "$c" | sed -n 's/^Usage: \(.*\) \[OPTION\.\.\.\]$/\1/p')
           sed 's/\\|/|/g' docs/cli.md | grep -qF "| \`$usage\` |" || echo "$usage"
       done)" ""
check "the desktop entry is valid, without hints" "$(desktop-file-validate data/lbxconfig.desktop 2>&1)" ""
appstreamcli validate --no-net data/lbxconfig.metainfo.xml >/dev/null 2>&1
check "the AppStream file is valid" "$?" 0

unit=data/lbxctl-check.service
exposure=$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
check "the monitoring unit's exposure is at most 2.0 (it is $exposure)" \
    "$(awk -v e="${exposure:-99}" 'BEGIN { print (e <= 2.0) ? "safe" : "exposed" }')" safe
check "the unit runs as the user sysusers.d makes" \
    "$(sed -n 's/^User=//p' "$unit")" "$(awk '$1 == "u" { print $2 }' data/lbxconfig.sysusers)"
check "only status 1 (not all ok) counts as success: 74 (unwritten metrics) fails the unit" \
    "$(sed -n 's/^SuccessExitStatus=//p' "$unit")" 1
check "the unit writes where node_exporter's link points" \
    "$(sed -n 's/.*--output \([^ ]*\).*/\1/p' "$unit")" "$(sed -n 's/^target=//p' data/metrics-link)"

# The link into node_exporter's textfile directory, in a root laid out as
# Debian's prometheus-node-exporter leaves it (/var/lib/prometheus its user's,
# node-exporter root's, which systemd-tmpfiles refuses to cross), made
# whichever package comes first, and taken away with the package.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
data/metrics-link "$root"
check "no node_exporter yet: nothing is made" "$(find "$root" -mindepth 1 | wc -l)" 0
mkdir -p "$root/var/lib/prometheus/node-exporter"
[ "$(id -u)" -ne 0 ] || chown nobody "$root/var/lib/prometheus"
data/metrics-link "$root"
check "node_exporter installed after: the trigger makes the link" \
    "$(readlink "$root/var/lib/prometheus/node-exporter/lbxconfig.prom")" \
    /var/lib/lbxconfig/lbxconfig.prom
data/metrics-link "$root"
check "made again (a reconfigure, an upgrade): unchanged, no failure" "$?" 0
data/metrics-link --remove "$root"
check "removed with the package" "$(ls "$root/var/lib/prometheus/node-exporter")" ""
echo "an operator's own file" >"$root/var/lib/prometheus/node-exporter/lbxconfig.prom"
data/metrics-link "$root" 2>/dev/null
data/metrics-link --remove "$root"
check "a file of that name that is not the link is left alone" \
    "$(cat "$root/var/lib/prometheus/node-exporter/lbxconfig.prom")" "an operator's own file"

echo "$failures failed"
[ "$failures" -eq 0 ]
