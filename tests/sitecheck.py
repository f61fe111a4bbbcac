"""sitecheck.py LBXCTL LBXSIM [--seeds N | --seed S] [--workers W]

Random sites of simulated converters, random lbxctl commands against them,
and every claim lbxctl makes held against what the converters' own journals
say they did. A failure prints its seed and scenario; --seed S replays it.
Runs inside scripts/netns-run; each worker runs its sites in a network
namespace of its own."""
import argparse
import ipaddress
import json
import os
import random
import socket
import subprocess
import sys
import tempfile
import time
import traceback

NETNS_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "netns-run")
CALL_OF = {"set": "lbx.set", "factory": "lbx.factory", "update": "lbx.update",
           "upload-log": "lbx.uploadLog"}
# What a converter that took a command did; rejected and ignored ones took nothing.
TOOK = {"applied", "kept", "reset", "update-started", "answered"}
# What changed the converter: it must not happen twice for one command. A
# converter that acknowledges and keeps its settings shows nothing to tell by.
CHANGED = {"applied", "reset", "update-started"}
SUCCESS = {"done", "already-so", "confirmed"}
NOWHERE = "127.0.9.9"  # no converter lives there


class Group:
    """One lbxsim process: some converters with the behaviours drawn for them."""

    def __init__(self, rng, index, count, lbxsim, work, shared):
        self.count = count
        self.base = (127 << 24) | ((index + 1) << 8) | 2
        self.journal = os.path.join(work, "journal%d" % index)
        self.factory = None
        options = ["--count", str(count), "--base", address(self.base), "--journal", self.journal,
                   "--uuid-prefix", "G%dX" % index, "--seed", str(rng.randint(1, 1 << 30)),
                   "--restart", str(rng.choice([0, 200, 400, 800]))]
        if rng.random() < 0.3:
            options += ["--silent-chance", str(rng.choice([0.1, 0.3]))]
        if rng.random() < 0.2:
            options += ["--delay", str(rng.choice([20, 60]))]
        if rng.random() < 0.3:
            options += ["--keeps-settings", str(rng.randint(1, count))]
        if rng.random() < 0.3:
            options += ["--update-to", "1.6"]
        if rng.random() < 0.2:
            self.factory = self.base + 200
            options += ["--factory-address", address(self.factory)]
        if rng.random() < 0.2:
            options += ["--rejects", str(rng.randint(1, count))]
        self.twins = {}
        for n in range(1, count + 1):
            draw = rng.random()
            if draw < 0.1:
                options += ["--uuid", "%d=%s" % (n, rng.choice(["", shared]))]
            elif draw < 0.13:
                options += ["--uuid", "%d=%d" % (n, 1000 + n), "--uuid-number", str(n)]
            elif draw < 0.18:
                self.twins[n] = "TWIN%d%d" % (index, n)
                options += ["--twin", "%d=%s" % (n, self.twins[n])]
        self.options = options
        self.log = os.path.join(work, "lbxsim%d" % index)
        with open(self.log, "w") as log:
            self.process = subprocess.Popen([lbxsim] + options, stdout=log,
                                            stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while not self.said(" converters on "):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("lbxsim did not start: " + open(self.log).read())
            time.sleep(0.01)
        self.entries = []  # the journal so far
        self.read = 0

    def said(self, text):
        with open(self.log, encoding="utf-8") as log:
            return text in log.read()

    def addresses(self):
        """Every address a converter of this group may answer from."""
        found = [address(self.base + n) for n in range(self.count)]
        if self.factory:
            found += [address(self.factory + n) for n in range(self.count)]
        return found

    def catch_up(self):
        with open(self.journal, encoding="utf-8") as journal:
            journal.seek(self.read)
            text = journal.read()
        complete = text[:text.rfind("\n") + 1]
        self.read += len(complete.encode("utf-8"))
        self.entries += [json.loads(line) for line in complete.splitlines()]

    def stop(self):
        self.process.terminate()
        self.process.wait()


def address(number):
    return socket.inet_ntoa(number.to_bytes(4, "big"))


class Site:
    def __init__(self, rng, lbxsim, work):
        total = rng.randint(1, 40)
        cuts = sorted(rng.sample(range(1, total), min(rng.randint(0, 2), total - 1)))
        counts = [b - a for a, b in zip([0] + cuts, cuts + [total])]
        shared = "SHARED%d" % rng.randint(1, 3)
        self.groups = []
        try:
            for i, count in enumerate(counts):
                self.groups.append(Group(rng, i, count, lbxsim, work, shared))
        except Exception:
            self.stop()  # none left running when one does not start
            raise
        self.marker = 0
        self.plan = []

    def settle(self):
        """Waits until every converter has read all that was sent to it: a marker
        sent after it to each address comes out last in the journals."""
        self.marker += 1
        call = "lbx.marker%d" % self.marker
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for group in self.groups:
            for to in group.addresses():
                sender.sendto(json.dumps({"call": call}).encode(), (to, 12166))
        sender.close()
        deadline = time.monotonic() + 20
        for group in self.groups:
            while True:
                group.catch_up()
                marked = {e["converter"] for e in group.entries if e.get("call") == call}
                if len(marked) == group.count or time.monotonic() > deadline:
                    break
                time.sleep(0.01)

    def converters(self):
        """Each converter as its journal last showed it: uuid, address, settings."""
        found = {}
        for g, group in enumerate(self.groups):
            for n in range(1, group.count + 1):
                found[(g, n)] = {"uuid": None, "at": address(group.base + n - 1),
                                 "settings": {"baud": 9600, "pluginName": "OvUdp485"}}
            for entry in group.entries:
                state = found[(g, entry["converter"])]
                state["uuid"], state["at"] = entry["uuid"], entry["at"]
                if "after" in entry:
                    state["settings"] = entry["after"]
            # A twin answers from its converter's address, as another uuid.
            for n, uuid in group.twins.items():
                found[(g, n, "twin")] = dict(found[(g, n)], uuid=uuid)
        return found

    def entries_since(self, marks):
        return [(g, e) for g, group in enumerate(self.groups) for e in group.entries[marks[g]:]]

    def stop(self):
        for group in self.groups:
            group.stop()


def draw_plan(rng, converters, path):
    """A plan of a few of the converters, some rows wrong, as CSV in any column
    order or as JSON lines; the plan's rows."""
    rows = []
    for converter in rng.sample(converters, min(len(converters), rng.randint(1, 5))):
        if isinstance(converter["uuid"], str) and converter["uuid"] and converter["uuid"] not in [r["uuid"] for r in rows]:
            rows.append({"uuid": converter["uuid"], "baud": rng.choice([9600, 19200, 115200]),
                         "plugin": rng.choice(["", "OvUdp485", "OvTcp485"])})
    if rng.random() < 0.3:
        rows.append({"uuid": "GONE%d" % rng.randint(1, 9), "baud": 9600, "plugin": ""})
    if rng.random() < 0.15:
        rows.append({"uuid": "WRONG", "baud": rng.choice([57600, "fast"]), "plugin": ""})
    if not rows:
        rows.append({"uuid": "GONE0", "baud": 9600, "plugin": ""})
    with open(path, "w", encoding="utf-8") as plan:
        if rng.random() < 0.5:
            for row in rows:
                plan.write(json.dumps(row) + "\n")
        else:
            columns = rng.sample(["uuid", "baud", "plugin", "room"], 4)
            plan.write(",".join(columns) + "\r\n")
            for row in rows:
                cells = {"room": '"hall, east"', **{k: str(v) for k, v in row.items()}}
                plan.write(",".join(cells[c] for c in columns) + "\r\n")
    return rows


def draw_sweep(rng, site):
    """--sweep of a range around one group: all of its /24, the lower half (a
    converter reset to its factory address falls outside), or its first two hosts."""
    group = rng.choice(site.groups)
    network = address(group.base & ~0xFF)
    return ["--sweep", "%s/%d" % (network, rng.choice([24, 25, 30]))]


def swept(arguments):
    """The ranges a command line sweeps; empty when it searches by broadcast."""
    return [ipaddress.ip_network(arguments[i + 1]) for i, a in enumerate(arguments)
            if a == "--sweep"]


def outside(ranges, ip):
    return bool(ranges) and not any(ipaddress.ip_address(ip) in r for r in ranges)


def draw_command(rng, site, work):
    converters = list(site.converters().values())
    command = rng.choice(["discover", "set", "set", "upload-log", "update", "factory", "apply",
                          "check"])
    roster = os.path.join(work, "roster.json")
    if command == "discover":
        sweep = draw_sweep(rng, site) if rng.random() < 0.3 else []
        return ([command, "--save", roster] if rng.random() < 0.5 else [command]) + sweep
    if command == "check":
        return [command, roster] if os.path.exists(roster) else ["discover", "--save", roster]
    if command == "apply":
        dry = ["--dry-run"] if rng.random() < 0.3 else []
        backup = os.path.join(work, "backup.json")
        if os.path.exists(backup) and rng.random() < 0.5:  # put back what a change saved
            site.plan = [{"uuid": c["uuid"], "baud": c["baud"], "plugin": c["pluginName"]}
                         for c in json.load(open(backup, encoding="utf-8"))["converters"]]
            return [command, backup, "--wait-timeout", "4"] + dry
        site.plan = draw_plan(rng, converters, os.path.join(work, "plan"))
        if rng.random() < 0.5:
            dry += ["--backup", backup]
        return [command, os.path.join(work, "plan"), "--wait-timeout", "4"] + dry
    arguments = [command]
    if rng.random() < 0.2:
        arguments.append("--all")
        if rng.random() < 0.3:
            arguments += draw_sweep(rng, site)
    else:
        for _ in range(rng.randint(1, 3)):
            converter = rng.choice(converters)
            form = rng.choice(["uuid", "address", "uuid:", "ip:", "nowhere"] * 5 + ["empty"])
            named = isinstance(converter["uuid"], str)
            if form == "uuid" and named and converter["uuid"] and not converter["uuid"][0].isdigit():
                arguments.append(converter["uuid"])
            elif form in ("uuid", "uuid:") and named and converter["uuid"]:
                arguments.append("uuid:" + converter["uuid"])
            elif form == "ip:":
                arguments.append("ip:" + converter["at"])
            elif form == "nowhere":
                arguments.append(NOWHERE)
            elif form == "empty":  # a script's unset variable
                arguments.append(rng.choice(["", "uuid:"]))
            else:
                arguments.append(converter["at"])
    if command == "set":
        arguments += ["--baud", str(rng.choice([4800, 9600, 19200, 115200]))]
        if rng.random() < 0.6:
            arguments += ["--plugin", rng.choice(["OvUdp485", "OvTcp485", "Net485"])]
    if command == "factory":
        arguments.append("--yes")
    if command != "upload-log" and rng.random() < 0.4:
        arguments += ["--wait", "--wait-timeout", "4"]
    return arguments + ["--retries", str(rng.randint(0, 2))]


def asked_settings(arguments):
    baud = int(arguments[arguments.index("--baud") + 1])
    plugin = arguments[arguments.index("--plugin") + 1] if "--plugin" in arguments else None
    return baud, plugin


def shows(settings, asked):
    baud, plugin = asked
    return settings["baud"] == baud and (plugin is None or settings["pluginName"] == plugin)


def check_apply(arguments, status, lines, before, after, entries, plan):
    failures = []
    sets = [e for _, e in entries if e.get("call") == "lbx.set"]
    wrong = any(not isinstance(r["baud"], int) or r["baud"] == 57600 for r in plan)
    if (status == 2) != wrong:
        failures.append("a plan %s refused, exit status %d" % ("wrongly" if wrong else "not",
                                                              status))
    if status == 2 or "--dry-run" in arguments:
        failures += ["%s was set, though nothing was to be" % e["at"] for e in sets]
        return failures
    planned = {r["uuid"]: r for r in plan}
    for line in lines:
        if line.get("plan") == "ambiguous":
            there = {c["at"] for c in before.values() if c["uuid"] == line.get("uuid")}
            failures += ["%s was set, though ambiguous" % e["at"] for e in sets if e["at"] in there]
    for entry in sets:
        row = planned.get(entry["uuid"])
        if row is None:
            failures.append("%s (%s) was set, but no row names it" % (entry["at"], entry["uuid"]))
        elif "before" in entry and shows(entry["before"], (row["baud"], row["plugin"] or None)):
            failures.append("%s was set, but it was as planned already" % entry["at"])
    rows = [line for line in lines if "line" in line or line.get("plan") == "missing"]
    outcomes = {}
    for line in lines:
        if line.get("uuid") in planned and line.get("command") == "apply":
            outcomes.setdefault(line["uuid"], []).append(line)
    for uuid, row in planned.items():
        asked = (row["baud"], row["plugin"] or None)
        said = outcomes.get(uuid, [])
        if not said:
            failures.append("row %s got no line" % uuid)
        for line in said:
            if line.get("plan") == "unchanged" or line.get("outcome") in ("confirmed",
                                                                         "already-so"):
                now = [c for c in after.values() if c["uuid"] == uuid]
                if not any(shows(c["settings"], asked) for c in now):
                    failures.append("%s called %s, but reports %s" % (
                        uuid, line.get("plan") or line.get("outcome"),
                        [c["settings"] for c in now]))
    ok = all(line.get("ok", line.get("plan") in ("unchanged", "not-in-plan")) for line in lines
             if line.get("plan") != "set")
    if status == 0 and (not ok or not rows):
        failures.append("exit status 0, but not every row came out right")
    return failures


def check_backup(arguments, status, before, entries):
    """The backup lists each converter apply set, with the settings it had before."""
    path = arguments[arguments.index("--backup") + 1]
    firsts = {}
    for _, entry in entries:
        if entry.get("call") == "lbx.set":
            firsts.setdefault(entry["at"], entry)
    if not firsts or "--dry-run" in arguments or status == 2:
        return []
    try:
        saved = {(c["uuid"], c["ip"]): c for c in
                 json.load(open(path, encoding="utf-8"))["converters"]}
    except (OSError, ValueError, KeyError, TypeError) as error:
        return ["apply set converters, but its backup is not whole: %s" % error]
    failures = []
    for at, entry in firsts.items():
        kept = saved.get((entry["uuid"], at))
        was = [c["settings"] for c in before.values() if c["at"] == at and c["uuid"] == entry["uuid"]]
        if not kept or {"baud": kept["baud"], "pluginName": kept["pluginName"]} not in was:
            failures.append("the backup does not hold %s at %s as it was: %s" % (
                entry["uuid"], at, kept))
    return failures


def check_roster(arguments, status, before, after, previous):
    """A roster is written whole, from what answered, or left as it was."""
    path = arguments[arguments.index("--save") + 1]
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else None
    if text == previous:
        return []
    try:
        saved = json.loads(text)["converters"]
    except (ValueError, TypeError, KeyError):
        return ["the roster is not whole: %r" % (text or "")[:200]]
    live = {(c["uuid"], c["at"]) for c in list(before.values()) + list(after.values())}
    failures = ["the roster lists %s at %s, which is not there" % (c.get("uuid"), c.get("ip"))
                for c in saved if (c.get("uuid"), c.get("ip")) not in live]
    if not saved:
        failures.append("a roster with no converter replaced %r" % (previous or "")[:100])
    return failures


def check_findings(status, lines, after):
    """Every "ok" of check is true of a converter now; exit 0 only when all are."""
    failures = []
    for line in lines[:-1]:
        # The uuid as the converter sent it: a number shows as "" in the finding itself.
        uuid = line.get("now", {}).get("uuid", line.get("uuid"))
        if line.get("check") == "ok" and not any(
                c["uuid"] == uuid and c["at"] == line.get("ip") for c in after.values()):
            failures.append("check calls %s at %s ok, but it is not there" % (
                line.get("uuid"), line.get("ip")))
    if status == 0 and any(line.get("check") not in (None, "ok") for line in lines):
        failures.append("exit status 0, but not every finding is ok")
    return failures


def check_command(arguments, status, lines, before, after, entries):
    """Every claim the command's output makes, held against the journal entries
    written while it ran; the failures found."""
    failures = []
    if arguments[0] == "check":
        return check_findings(status, lines, after)
    if arguments[0] == "discover":
        live = {(c["uuid"], c["at"]) for c in before.values()} | \
            {(c["uuid"], c["at"]) for c in after.values()}
        for line in lines:
            if (line.get("uuid"), line.get("ip")) not in live:
                failures.append("listed a converter that is not there: %s" % line)
            if outside(swept(arguments), line.get("ip")):
                failures.append("listed a converter outside the sweep: %s" % line)
        if status == 0 and not lines:
            failures.append("exit status 0, but nothing listed")
        return failures
    call = CALL_OF[arguments[0]]
    named = []
    for target in arguments[1:]:
        if target.startswith("-"):
            break
        named.append(target)
    allowed = set()
    for target in named:
        if target.startswith("uuid:") or not target.startswith("ip:") and target.count(".") != 3:
            uuid = target[5:] if target.startswith("uuid:") else target
            allowed |= {c["at"] for c in before.values() if c["uuid"] == uuid}
        else:
            allowed.add(target[3:] if target.startswith("ip:") else target)
    if any(target in ("", "uuid:") for target in named) and status != 2:
        failures.append("an empty target was not refused (exit status %d)" % status)
    everyone = "--all" in arguments
    changing = [(g, e) for g, e in entries if e.get("call") == call]
    for g, entry in changing:
        if status == 2:
            failures.append("refused (exit 2), yet %s reached %s" % (call, entry["at"]))
        elif not everyone and entry["at"] not in allowed:
            failures.append("%s reached %s, which was not named" % (call, entry["at"]))
        elif everyone and outside(swept(arguments), entry["at"]):
            failures.append("%s reached %s, outside the sweep" % (call, entry["at"]))
    by_ip = {}
    for line in lines:
        if line.get("ip") in by_ip and line.get("outcome") not in ("confirmed", "not-applied",
                                                                   "timed-out", "interrupted"):
            failures.append("two lines for %s" % line.get("ip"))
        by_ip[line.get("ip")] = line
    if call == "lbx.set":
        baud, plugin = asked_settings(arguments)
        for _, entry in changing:
            if entry["did"] == "applied" and entry["after"] != {
                    "baud": baud, "pluginName": plugin or entry["before"]["pluginName"]}:
                failures.append("%s was set to %s, not what was asked" % (entry["at"],
                                                                         entry["after"]))
    taken = {}
    for g, entry in changing:
        if entry["did"] in CHANGED:
            taken.setdefault((g, entry["converter"]), []).append(entry)
    for took in taken.values():
        if len(took) > 1:
            failures.append("%s took %s %d times" % (took[0]["at"], call, len(took)))
    for ip, line in by_ip.items():
        failures += check_line(call, arguments, line, [e for _, e in changing if e["at"] == ip],
                               [c for c in after.values() if c["at"] == ip or
                                c["uuid"] == line.get("uuid")])
    ok = bool(lines) and all(line.get("ok") for line in lines)
    if status != 2 and (status == 0) != ok:
        failures.append("exit status %d, but the outcomes say %s" % (status, ok))
    return failures


def check_line(call, arguments, line, reached, now):
    """One outcome line against the entries of its converter and its state now."""
    outcome, ip = line.get("outcome"), line.get("ip")
    answered = [e for e in reached if e.get("answered") and e["did"] in TOOK | {"rejected"}]
    if outcome == "done" and not any(e["did"] != "rejected" for e in answered):
        return ["%s: done, but no acknowledgement went out: %s" % (ip, reached)]
    if outcome == "failed" and not any(e["did"] == "rejected" for e in answered):
        return ["%s: failed, but it did not reject: %s" % (ip, reached)]
    if outcome in ("already-so", "confirmed") and call == "lbx.set":
        if not any(shows(c["settings"], asked_settings(arguments)) for c in now):
            return ["%s: %s, but it reports %s" % (ip, outcome, [c["settings"] for c in now])]
    if outcome == "confirmed" and call == "lbx.factory" and \
            not any(e["did"] == "reset" for e in reached):
        return ["%s: confirmed, but it was never reset: %s" % (ip, reached)]
    if outcome == "confirmed" and call == "lbx.update" and \
            not any(e["did"] == "update-started" for e in reached):
        return ["%s: confirmed, but no update started: %s" % (ip, reached)]
    if outcome == "not-applied" and call == "lbx.set" and \
            all(shows(c["settings"], asked_settings(arguments)) for c in now):
        return ["%s: not applied, but it reports %s" % (ip, [c["settings"] for c in now])]
    return []


def run_scenario(seed, lbxctl, lbxsim):
    rng = random.Random(seed)
    story = []
    failures = []
    with tempfile.TemporaryDirectory() as work:
        site = Site(rng, lbxsim, work)
        try:
            story.append("site: " + " | ".join(" ".join(g.options[:2] + g.options[6:])
                                               for g in site.groups))
            for _ in range(rng.randint(1, 3)):
                site.settle()
                before = site.converters()
                marks = [len(g.entries) for g in site.groups]
                arguments = draw_command(rng, site, work)
                roster = os.path.join(work, "roster.json")
                previous = open(roster, encoding="utf-8").read() \
                    if os.path.exists(roster) else None
                result = subprocess.run([lbxctl] + arguments + ["--json", "--timeout", "0.2"],
                                        capture_output=True, text=True, timeout=120)
                site.settle()
                lines = []
                for text in result.stdout.splitlines():
                    try:
                        lines.append(json.loads(text))
                    except ValueError:
                        failures.append("not a JSON line: %r" % text)
                story.append("lbxctl %s -> %d" % (" ".join(arguments), result.returncode))
                after, entries = site.converters(), site.entries_since(marks)
                if arguments[0] == "apply":
                    failures += check_apply(arguments, result.returncode, lines, before, after,
                                            entries, site.plan)
                else:
                    failures += check_command(arguments, result.returncode, lines, before,
                                              after, entries)
                if "--backup" in arguments:
                    failures += check_backup(arguments, result.returncode, before, entries)
                if "--save" in arguments:
                    failures += check_roster(arguments, result.returncode, before, after,
                                             previous)
                if failures:
                    story.append(result.stdout + result.stderr)
                    break
        finally:
            site.stop()
    return {"seed": seed, "failures": failures, "story": story}


def in_sandbox():
    return os.environ.get("LBX_SANDBOX") == os.readlink("/proc/self/ns/net")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("lbxctl")
    parser.add_argument("lbxsim")
    parser.add_argument("--seeds", type=int, default=200)
    parser.add_argument("--seed", type=int)
    parser.add_argument("--first", type=int, default=1)
    parser.add_argument("--workers", type=int, default=12)
    parser.add_argument("--worker", nargs="*", type=int)
    args = parser.parse_args()
    if not in_sandbox():
        sys.exit("refused: sitecheck.py runs only inside scripts/netns-run")
    if args.worker is not None:
        for seed in args.worker:
            try:
                result = run_scenario(seed, args.lbxctl, args.lbxsim)
            except Exception:  # a fault of the checker's own fails its seed, not the run
                result = {"seed": seed, "story": [],
                          "failures": ["the checker failed: " + traceback.format_exc()]}
            print(json.dumps(result), flush=True)
        return 0
    seeds = [args.seed] if args.seed is not None else \
        list(range(args.first, args.first + args.seeds))
    started = time.monotonic()
    # Each worker writes to a file of its own, so that none waits on another's reader.
    outputs = [tempfile.TemporaryFile("w+") for _ in range(min(args.workers, len(seeds)))]
    workers = [subprocess.Popen([NETNS_RUN, sys.executable, __file__, args.lbxctl, args.lbxsim,
                                 "--worker"] + [str(s) for s in seeds[w::args.workers]],
                                stdout=output, text=True)
               for w, output in enumerate(outputs)]
    codes = [worker.wait() for worker in workers]
    results = []
    for output in outputs:
        output.seek(0)
        results += [json.loads(line) for line in output]
    failed = [r for r in results if r["failures"]]
    for result in failed:
        print("FAIL: seed %d (replay: --seed %d)" % (result["seed"], result["seed"]))
        print("\n".join("  " + line for line in result["story"]))
        print("\n".join("  ! " + failure for failure in result["failures"]))
    broken = any(codes) or len(results) != len(seeds)
    print("%d scenarios in %.0f s: %d passed, %d failed" % (
        len(results), time.monotonic() - started, len(results) - len(failed), len(failed)))
    return 1 if failed or broken else 0


if __name__ == "__main__":
    sys.exit(main())
