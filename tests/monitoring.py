"""monitoring.py LBXCTL LBXSIM

Three simulated sites, each a network namespace of its own with its converters
(lbxsim), its check (lbxctl check, every second, into node_exporter's textfile
directory) and its node_exporter, behind a veth pair; a real Prometheus here
scrapes the three, each with the label site, and evaluates the mixin's rules
(its waits cut to nothing). Site 2 has a converter switched off after its
roster was saved, site 3 a converter set to another baud rate. Holds that the
alerts for a converter down and for converters missing fire for site 2 and for
no other, and that every query of the dashboard returns data. Every wait is
bounded. Runs inside scripts/netns-run."""
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

from sites import ROOT, fail, sandboxed, start_site, stop, wait_for

SITES = 3

# A site: lo with its converters, the far end of the cable at 10.90.N.2, a
# roster saved, then the converters as the test wants them, a check every
# second, and node_exporter serving what it writes.
SITE_SCRIPT = r'''
set -eu
link=$1 address=$2 lbxctl=$3 lbxsim=$4 dir=$5 quirk=$6
while ! ip link show "$link" >/dev/null 2>&1; do sleep 0.02; done
ip link set lo up
ip link set "$link" up
ip addr add "$address/24" dev "$link"
"$lbxsim" --count 2 >"$dir/lbxsim.log" 2>&1 &
"$lbxsim" --count 1 --base 127.0.0.4 --uuid 1=LBXSIM000003 >"$dir/lbxsim3.log" 2>&1 &
third=$!
until grep -q ' converters on ' "$dir/lbxsim.log" "$dir/lbxsim3.log" 2>/dev/null &&
    [ "$(grep -l ' converters on ' "$dir/lbxsim.log" "$dir/lbxsim3.log" | wc -l)" -eq 2 ]; do
    sleep 0.02
done
"$lbxctl" discover --save "$dir/roster.json" --timeout 0.5 >/dev/null
case $quirk in
off) kill $third ;;
drift) "$lbxctl" set 127.0.0.3 --baud 19200 --timeout 0.5 >/dev/null ;;
esac
mkdir -p "$dir/textfiles"
prometheus-node-exporter --web.listen-address="$address:9100" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$dir/textfiles" >"$dir/node.log" 2>&1 &
while true; do
    "$lbxctl" check "$dir/roster.json" --format openmetrics --output "$dir/textfiles/lbx.prom" \
        --timeout 0.3 >/dev/null 2>&1 || true
    sleep 1
done
'''


def query(expression):
    url = "http://127.0.0.1:9090/api/v1/query?" + urllib.parse.urlencode({"query": expression})
    try:
        with urllib.request.urlopen(url, timeout=5) as answer:
            return json.load(answer)["data"]["result"]
    except OSError:
        return None


def rules_without_waits(work):
    """The mixin's alerts with every "for" cut to nothing, and its recording rules."""
    config = ", ".join("%s: '0s'" % key for key in (
        "converterDownFor", "convertersMissingFor", "noConverterAnswersFor",
        "checkNotSucceedingFor", "settingsDriftedFor", "versionSkewFor"))
    source = ("local m = (import 'mixin.libsonnet') + { _config+:: { %s } };"
              "std.manifestYamlDoc(m.prometheusAlerts + { groups+: m.prometheusRules.groups })"
              % config)
    rules = os.path.join(work, "rules.yaml")
    with open(rules, "w") as out:
        subprocess.run(["jsonnet", "-S", "-J", os.path.join(ROOT, "monitoring"), "-e", source],
                       stdout=out, check=True)
    return rules


def start_prometheus(work, processes):
    config = {
        "global": {"scrape_interval": "1s", "evaluation_interval": "1s"},
        "rule_files": [rules_without_waits(work)],
        "scrape_configs": [{"job_name": "node", "static_configs": [
            {"targets": ["10.90.%d.2:9100" % n], "labels": {"site": "site%d" % n}}
            for n in range(1, SITES + 1)]}],
    }
    path = os.path.join(work, "prometheus.yml")
    with open(path, "w") as out:
        json.dump(config, out)  # YAML takes JSON
    log = open(os.path.join(work, "prometheus.log"), "w")
    processes.append(subprocess.Popen(
        ["prometheus", "--config.file=" + path, "--storage.tsdb.path=" + os.path.join(work, "tsdb"),
         "--web.listen-address=127.0.0.1:9090"], stdout=log, stderr=subprocess.STDOUT))


def sites_firing(alert):
    found = query('ALERTS{alertstate="firing", alertname="%s"}' % alert)
    return sorted(a["metric"].get("site", "") for a in found or [])


def main():
    sandboxed("monitoring.py", ("prometheus", "prometheus-node-exporter", "jsonnet"))
    lbxctl, lbxsim = sys.argv[1], sys.argv[2]
    started = time.monotonic()
    processes = []
    with tempfile.TemporaryDirectory() as work:
        try:
            for n in range(1, SITES + 1):
                folder = os.path.join(work, "site%d" % n)
                os.mkdir(folder)
                start_site("lbxm%d" % n, "10.90.%d.1" % n, "10.90.%d.2" % n, SITE_SCRIPT,
                           [lbxctl, lbxsim, folder, {2: "off", 3: "drift"}.get(n, "none")],
                           processes)
            start_prometheus(work, processes)
            wait_for("three sites scraped with metrics",
                     lambda: len(query("lbx_converters_expected") or []) == SITES)
            for alert in ("LbxConverterDown", "LbxConvertersMissing"):
                wait_for("%s firing for site2" % alert, lambda: sites_firing(alert) == ["site2"])
            time.sleep(3)  # a few more evaluations: the other sites stay quiet
            for alert in ("LbxConverterDown", "LbxConvertersMissing", "LbxNoConverterAnswers"):
                firing = sites_firing(alert)
                if firing != (["site2"] if alert != "LbxNoConverterAnswers" else []):
                    fail("%s fires for %s" % (alert, firing))
            print("PASS: LbxConverterDown and LbxConvertersMissing fire for site2 alone")
            dashboard = json.load(open(os.path.join(ROOT, "monitoring", "generated",
                                                    "dashboard.json")))
            for panel in dashboard["panels"]:
                for target in panel["targets"]:
                    expression = target["expr"].replace("$site", ".*")
                    if not query(expression):
                        fail("the panel %r returns no data: %s" % (panel["title"], expression))
            print("PASS: every query of the dashboard returns data")
        finally:
            stop(processes)
    print("monitoring: three sites in %.0f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
