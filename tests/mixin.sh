#!/bin/sh
# The monitoring mixin as Prometheus reads it: its files built from the jsonnet
# sources as committed, its rules valid, and each alert firing where its
# condition lasts and nowhere else (promtool test rules monitoring/tests.yaml).
# Opens no socket.
set -u
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=scripts/lib/common.sh
. scripts/lib/common.sh

check "the generated files are those of the sources" "$(scripts/generate-mixin --check 2>&1)" ""
check "promtool takes the rules" \
    "$(promtool check rules monitoring/generated/alerts.yaml monitoring/generated/rules.yaml \
        >/dev/null 2>&1 && echo valid)" valid
result=$(promtool test rules monitoring/tests.yaml 2>&1)
check "every alert fires where it should, and only there" "$(echo "$result" | tail -n 1 | tr -d ' ')" \
    SUCCESS
[ $failures -eq 0 ] || echo "$result"
check "the dashboard is JSON, each panel with queries" \
    "$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1]));
print(all(p["targets"] for p in d["panels"]) and len(d["panels"]))' monitoring/generated/dashboard.json)" 6

echo "$failures failed"
[ "$failures" -eq 0 ]
