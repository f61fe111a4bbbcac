"""sitecheck.py LBXCTL LBXSIM [--seeds N | --seed S] [--workers W]

Random sites of simulated converters, random lbxctl commands against them,
and every claim lbxctl makes held against what the converters' own journals
say they did. The sites are drawn as real LANs are: answers lost, late (after
lbxctl moved on), duplicated or sent from another address; converters deaf to
the broadcast or to unicast, uuids shared, empty or JSON numbers, plug-ins no
window knows or none at all; and now and then lbxctl is given a receive buffer
too small for a burst of answers. A failure prints its seed and scenario; --seed S
replays it. Runs inside scripts/netns-run; each worker runs its sites in a
network namespace of its own."""
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

from sites import sandboxed

NETNS_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "netns-run")
CALL_OF = {"set": "lbx.set", "factory": "lbx.factory", "update": "lbx.update",
           "upload-log": "lbx.uploadLog"}
# What changed the converter: it must not happen twice for one command. A
# converter that acknowledges and keeps its settings shows nothing to tell by.
CHANGED = {"applied", "reset", "update-started"}
SUCCESS = {"done", "already-so", "confirmed"}
NOWHERE = "127.0.9.9"  # no converter lives there
TIMEOUT = 0.2  # lbxctl's --timeout: a late answer comes after it
FACTORY = {"baud": 9600, "pluginName": "OvUdp485"}


def address(number):
    return socket.inet_ntoa(number.to_bytes(4, "big"))


def json_text(value):
    """A uuid as a person names it: text as it is, a number as its JSON text."""
    return value if isinstance(value, str) else json.dumps(value)


def names(target, uuid):
    """Whether a uuid target's text names a converter reporting this uuid."""
    return isinstance(uuid, (str, int, float)) and not isinstance(uuid, bool) and \
        target != "" and json_text(uuid) == target


class Group:
    """One lbxsim process: some converters with the behaviours drawn for them."""

    def __init__(self, rng, index, count, lbxsim, work, shared):
        self.count = count
        self.base = (127 << 24) | ((index + 1) << 8) | 2
        self.journal = os.path.join(work, "journal%d" % index)
        self.factory = None
        self.restart = rng.choice([0, 200, 400, 800])
        options = ["--count", str(count), "--base", address(self.base), "--journal", self.journal,
                   "--uuid-prefix", "G%dX" % index, "--seed", str(rng.randint(1, 1 << 30)),
                   "--restart", str(self.restart)]
        self.lossy = rng.random() < 0.3
        if self.lossy:
            options += ["--silent-chance", str(rng.choice([0.1, 0.3]))]
        if rng.random() < 0.2:
            options += ["--delay", str(rng.choice([20, 60]))]
        self.late = rng.random() < 0.25
        if self.late:
            options += ["--late-chance", str(rng.choice([0.2, 0.5])),
                        "--late", str(rng.choice([300, 600]))]
        if rng.random() < 0.2:
            options += ["--duplicate-chance", "0.5"]
        if rng.random() < 0.3:
            options += ["--keeps-settings", str(rng.randint(1, count))]
        if rng.random() < 0.3:
            options += ["--update-to", "1.6"]
        if rng.random() < 0.2:  # outside a sweep of the lower half, or inside it
            self.factory = self.base + rng.choice([200, 20])
            options += ["--factory-address", address(self.factory)]
        if rng.random() < 0.2:
            options += ["--rejects", str(rng.randint(1, count))]
        if rng.random() < 0.2:
            options += ["--rejects-update", str(rng.randint(1, count))]
        self.twins, self.plugins, self.answers_from, self.deaf = {}, {}, {}, {}
        for n in range(1, count + 1):
            options += self.draw_converter(rng, index, n, shared)
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

    def draw_converter(self, rng, index, n, shared):
        """The quirks of converter n, as lbxsim options."""
        options = []
        draw = rng.random()
        if draw < 0.1:
            options += ["--uuid", "%d=%s" % (n, rng.choice(["", shared]))]
        elif draw < 0.15:  # a number, now and then the same as another's, or its text
            number = rng.choice([1000 + n, 1000])
            options += ["--uuid", "%d=%d" % (n, number)]
            if rng.random() < 0.8:
                options += ["--uuid-number", str(n)]
        elif draw < 0.2:
            self.twins[n] = "TWIN%d%d" % (index, n)
            options += ["--twin", "%d=%s" % (n, self.twins[n])]
        draw = rng.random()
        if draw < 0.06:
            self.plugins[n] = rng.choice(["Modbus485", ""])
            options += ["--plugin", "%d=%s" % (n, self.plugins[n])]
        elif draw < 0.1:
            self.plugins[n] = None
            options += ["--no-plugin", str(n)]
        draw = rng.random()
        if draw < 0.05 and self.count > 1:  # from a neighbour's address, or from outside
            other = rng.choice([m for m in range(1, self.count + 1) if m != n])
            self.answers_from[n] = address(rng.choice([self.base + other - 1, self.base + 150]))
            options += ["--answers-from", "%d=%s" % (n, self.answers_from[n])]
        elif draw < 0.09:
            self.deaf[n] = rng.choice(["unicast-only", "broadcast-only"])
            options += ["--" + self.deaf[n], str(n)]
        return options

    def factory_settings(self, n):
        settings = dict(FACTORY)
        if n in self.plugins:
            if self.plugins[n] is None:
                del settings["pluginName"]
            else:
                settings["pluginName"] = self.plugins[n]
        return settings

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
        self.backups = []  # apply --backup files written so far, the last undone first

    def settle(self):
        """Waits until every converter has read all that was sent to it, and sent
        every answer, late ones too: a marker sent after it to each address comes
        out last in the journals, and the late answers are over by then."""
        late = max([int(g.options[g.options.index("--late") + 1]) for g in self.groups
                    if "--late" in g.options] + [0])
        time.sleep(late / 1000)
        self.marker += 1
        call = "lbx.marker%d" % self.marker
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for group in self.groups:
            for to in group.addresses():
                sender.sendto(json.dumps({"call": call}).encode(), (to, 12166))
        sender.close()
        deadline = time.monotonic() + 20
        for group in self.groups:
            deaf = {n for n, how in group.deaf.items() if how == "broadcast-only"}
            while True:
                group.catch_up()
                marked = {e["converter"] for e in group.entries if e.get("call") == call} | deaf
                if len(marked) >= group.count or time.monotonic() > deadline:
                    break
                time.sleep(0.01)

    def converters(self):
        """Each converter as its journal last showed it: uuid, address, where its
        answers come from, settings."""
        found = {}
        for g, group in enumerate(self.groups):
            for n in range(1, group.count + 1):
                found[(g, n)] = {"uuid": None, "at": address(group.base + n - 1),
                                 "settings": group.factory_settings(n), "group": g, "n": n}
            for entry in group.entries:
                state = found[(g, entry["converter"])]
                state["uuid"], state["at"] = entry["uuid"], entry["at"]
                if "after" in entry:
                    state["settings"] = entry["after"]
            for n in range(1, group.count + 1):
                state = found[(g, n)]
                state["from"] = group.answers_from.get(n, state["at"])
                state["deaf"] = group.deaf.get(n)
            # A twin answers from its converter's address, as another uuid.
            for n, uuid in group.twins.items():
                found[(g, n, "twin")] = dict(found[(g, n)], uuid=uuid, twin=True)
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


def draw_search(rng, site):
    """How a command searches: by broadcast (nothing), a --sweep of a range
    around one group (all of its /24, its lower half, which a converter reset
    to a high factory address leaves, or its first two hosts), or --host."""
    group = rng.choice(site.groups)
    draw = rng.random()
    if draw < 0.7:
        return []
    if draw < 0.9:
        return ["--sweep", "%s/%d" % (address(group.base & ~0xFF), rng.choice([24, 25, 30]))]
    hosts = rng.sample(range(group.count), min(2, group.count))
    return [a for n in hosts for a in ("--host", address(group.base + n))]


def draw_buffer(rng):
    """Now and then a receive buffer too small for a burst of answers."""
    return ["--receive-buffer", "4"] if rng.random() < 0.3 else []


def dropped():
    """Datagrams this namespace has dropped for want of receive buffer."""
    with open("/proc/net/snmp", encoding="ascii") as snmp:
        names, values = [line.split() for line in snmp if line.startswith("Udp:")][:2]
    return int(values[names.index("RcvbufErrors")])


def searched(arguments):
    """The ranges and hosts a command line asks by unicast; empty for a broadcast."""
    ranges = [ipaddress.ip_network(arguments[i + 1]) for i, a in enumerate(arguments)
              if a == "--sweep"]
    return ranges + [ipaddress.ip_network(arguments[i + 1]) for i, a in enumerate(arguments)
                     if a == "--host"]


def outside(ranges, ip):
    """Whether a search of these ranges left ip unasked: a sweep asks a range's
    host addresses, not its network and broadcast address."""
    address = ipaddress.ip_address(ip)
    return bool(ranges) and not any(
        address in r and (r.prefixlen >= 31 or address not in (r.network_address,
                                                                r.broadcast_address))
        for r in ranges)


def draw_targets(rng, converters):
    arguments = []
    for _ in range(rng.randint(1, 3)):
        converter = rng.choice(converters)
        form = rng.choice(["uuid", "address", "uuid:", "ip:", "nowhere"] * 5 + ["empty"])
        uuid = converter["uuid"]
        named = isinstance(uuid, (str, int, float)) and json_text(uuid) != ""
        if form == "uuid" and named and not json_text(uuid)[0].isdigit():
            arguments.append(uuid)
        elif form in ("uuid", "uuid:") and named:
            arguments.append("uuid:" + json_text(uuid))
        elif form == "ip:":
            arguments.append("ip:" + converter["at"])
        elif form == "nowhere":
            arguments.append(NOWHERE)
        elif form == "empty":  # a script's unset variable
            arguments.append(rng.choice(["", "uuid:"]))
        else:
            arguments.append(converter["at"])
    return arguments


def roster_rows(path):
    """A roster (discover --save, apply --backup) as the rows of a plan that
    puts back exactly what each converter reported (None: no plug-in)."""
    return [{"uuid": c.get("uuid"), "baud": c.get("baud"), "plugin": c.get("pluginName"),
             "exact": True} for c in json.load(open(path, encoding="utf-8"))["converters"]]


def draw_apply(rng, site, work, converters):
    """apply: a drawn plan, perhaps with a backup (now and then one that exists
    already), or the undo of an earlier change, or a saved roster put back."""
    dry = ["--dry-run"] if rng.random() < 0.3 else []
    wait = ["--wait-timeout", "4"]
    roster = os.path.join(work, "roster.json")
    written = [b for b in site.backups if os.path.exists(b)]
    if written and rng.random() < 0.4:  # undo what the last change saved
        site.plan = roster_rows(written[-1])
        return ["apply", written[-1]] + wait + dry
    if os.path.exists(roster) and rng.random() < 0.2:
        site.plan = roster_rows(roster)
        return ["apply", roster] + wait + dry
    site.plan = draw_plan(rng, converters, os.path.join(work, "plan"))
    if rng.random() < 0.1 and written:
        return ["apply", os.path.join(work, "plan"), "--backup", written[-1]] + wait + dry
    if rng.random() < 0.5 and not dry:
        site.backups.append(os.path.join(work, "backup%d.json" % len(site.backups)))
        dry += ["--backup", site.backups[-1]]
    return ["apply", os.path.join(work, "plan")] + wait + dry


def draw_command(rng, site, work):
    converters = list(site.converters().values())
    written = [b for b in site.backups if os.path.exists(b)]
    if written and rng.random() < 0.3:  # the undo, soon after the change
        site.plan = roster_rows(written[-1])
        return ["apply", written[-1], "--wait-timeout", "4"]
    command = rng.choice(["discover", "set", "set", "upload-log", "update", "factory", "apply",
                          "check"])
    roster = os.path.join(work, "roster.json")
    if command == "discover":
        return ([command, "--save", roster] if rng.random() < 0.5 else [command]) + \
            draw_search(rng, site) + draw_buffer(rng)
    if command == "check":
        if rng.random() < 0.3:
            pairs = {(json.dumps(c["uuid"]), c["from"]) for c in converters}
            return [command, "--expect", str(max(0, len(pairs) + rng.choice([-1, 0, 0, 1])))]
        return [command, roster] if os.path.exists(roster) else ["discover", "--save", roster]
    if command == "apply":
        return draw_apply(rng, site, work, converters)
    arguments = [command]
    if rng.random() < 0.2:
        arguments += ["--all"] + draw_buffer(rng)
    else:
        arguments += draw_targets(rng, converters)
    arguments += draw_search(rng, site)
    if command == "set":
        arguments += ["--baud", str(rng.choice([4800, 9600, 19200, 115200]))]
        if rng.random() < 0.6:
            arguments += ["--plugin", rng.choice(["OvUdp485", "OvTcp485", "Net485"])]
    if command == "factory":
        arguments.append("--yes")
    if rng.random() < 0.1:
        return arguments + ["--dry-run"]
    if command == "update" and rng.random() < 0.3:  # staged: it waits for each wave
        return arguments + ["--canary", str(rng.randint(1, 2)), "--wave-size",
                            str(rng.randint(1, 4)), "--wait-timeout", "4"]
    if command != "upload-log" and rng.random() < 0.4:
        # Long enough for a reset converter to be searched for where it comes back.
        arguments += ["--wait", "--wait-timeout", "8" if command == "factory" else "4"]
    return arguments + ["--retries", str(rng.randint(0, 2))]


def asked_settings(arguments):
    baud = int(arguments[arguments.index("--baud") + 1])
    plugin = arguments[arguments.index("--plugin") + 1] if "--plugin" in arguments else None
    return baud, plugin


def shows(settings, asked):
    baud, plugin = asked
    return settings["baud"] == baud and (plugin is None or settings.get("pluginName") == plugin)


def check_resends(call, taken, entries):
    """A command is sent to a converter again only on an answer to lbx.info that
    came in time from its own address, after the last send, showing it up and
    not changed by the command (taken(entry) is not True)."""
    failures = []
    by_converter = {}
    for g, entry in entries:
        by_converter.setdefault((g, entry["converter"]), []).append(entry)
    for seen in by_converter.values():
        sends = [e for e in seen if e.get("call") == call]
        for previous, resend in zip(sends, sends[1:]):
            probes = [e for e in seen if e.get("call") == "lbx.info" and
                      previous["t"] < e["t"] < resend["t"] and e.get("answered") and
                      not e.get("late") and "answeredFrom" not in e and
                      e["did"] == "answered" and taken(e) is not True]
            if not probes:
                failures.append("%s was sent %s again with no answer in time to show it "
                                "not taken: %s" % (resend["at"], call, seen))
    return failures


def row_asks(row):
    """What lbx.set a plan row asks for: a spreadsheet's empty plug-in keeps the
    converter's own; a roster's row puts back exactly what was reported."""
    asked = {"baud": row["baud"]}
    if row["plugin"] is not None and (row["plugin"] or row.get("exact")):
        asked["pluginName"] = row["plugin"]
    return asked


def as_asked(settings, row):
    asked = row_asks(row)
    return settings["baud"] == asked["baud"] and \
        ("pluginName" not in asked or settings.get("pluginName") == asked["pluginName"])


def row_key(uuid):
    return json.dumps(uuid)


def check_apply(arguments, status, lines, before, after, entries, plan, refusal):
    """Each row's converter is set as the row asks, once, only where it differs;
    what apply calls unchanged or confirmed is so by the journal; a roster's
    converters go back to exactly what they reported, and one that reported no
    plug-in is no success."""
    failures = []
    sets = [e for _, e in entries if e.get("call") == "lbx.set"]
    wrong = refusal or any(not isinstance(r["baud"], int) or r["baud"] == 57600 for r in plan
                           if not r.get("exact"))
    if (status == 2) != wrong:
        failures.append("a plan %s refused, exit status %d" % ("wrongly" if wrong else "not",
                                                              status))
    if status == 2 or "--dry-run" in arguments:
        failures += ["%s was set, though nothing was to be" % e["at"] for e in sets]
        return failures
    keys = [row_key(r["uuid"]) for r in plan]
    planned = {row_key(r["uuid"]): r for r in plan
               if keys.count(row_key(r["uuid"])) == 1 and json_text(r["uuid"])}
    for line in lines:
        if line.get("plan") == "ambiguous":
            there = {c["at"] for c in before.values() if c["uuid"] == line.get("uuid")}
            failures += ["%s was set, though ambiguous" % e["at"] for e in sets if e["at"] in there]
    for entry in sets:
        row = planned.get(row_key(entry["uuid"]))
        if row is None:
            failures.append("%s (%s) was set, but no row names it alone" % (entry["at"],
                                                                           entry["uuid"]))
            continue
        if entry.get("asked") != row_asks(row):
            failures.append("%s was sent %s for the row %s" % (entry["at"], entry.get("asked"),
                                                                row))
        if "before" in entry and as_asked(entry["before"], row):
            failures.append("%s was set, but it was as planned already" % entry["at"])
    failures += check_resends("lbx.set", lambda e: as_asked(e["after"], planned[row_key(e["uuid"])])
                              if row_key(e["uuid"]) in planned else None, entries)
    failures += check_outcomes(status, lines, after, plan, planned)
    return failures


def check_outcomes(status, lines, after, plan, planned):
    failures = []
    outcomes = {}
    for line in lines:
        if line.get("command") == "apply":
            outcomes.setdefault(row_key(line.get("uuid")), []).append(line)
    for key, row in planned.items():
        said = outcomes.get(key, [])
        if not said:
            failures.append("row %s got no line" % key)
        for line in said:
            if line.get("plan") == "unchanged" or line.get("outcome") in ("confirmed",
                                                                         "already-so"):
                now = [c for c in after.values() if row_key(c["uuid"]) == key]
                exactly = [c for c in now if as_asked(c["settings"], row) and
                           (not row.get("exact") or row["plugin"] is None or
                            c["settings"].get("pluginName") == row["plugin"])]
                if not exactly:
                    failures.append("%s called %s, but reports %s" % (
                        key, line.get("plan") or line.get("outcome"),
                        [c["settings"] for c in now]))
            if row.get("exact") and row["plugin"] is None and line.get("ok", False):
                failures.append("%s reported no plug-in, yet its restore is ok: %s" % (key, line))
    rows = [line for line in lines if "line" in line or line.get("plan") == "missing"]
    ok = all(line.get("ok", line.get("plan") in ("unchanged", "not-in-plan")) for line in lines
             if line.get("plan") != "set")
    partly = any(r.get("exact") and (r["plugin"] is None or row_key(r["uuid"]) not in planned)
                 for r in plan)
    if status == 0 and (not ok or not rows or partly):
        failures.append("exit status 0, but not every row came out right")
    return failures


def check_backup(arguments, status, before, entries, existed):
    """The backup lists each converter apply set, with the settings it had
    before; one named that exists already is refused, and left as it was."""
    path = arguments[arguments.index("--backup") + 1]
    if existed is not None:
        now = open(path, encoding="utf-8").read() if os.path.exists(path) else None
        return [] if status == 2 and now == existed else \
            ["an earlier backup was not kept: exit status %d" % status]
    firsts = {}
    for _, entry in entries:
        if entry.get("call") == "lbx.set":
            firsts.setdefault(entry["at"], entry)
    if not firsts or "--dry-run" in arguments or status == 2:
        return []
    try:
        saved = {(row_key(c["uuid"]), c["ip"]): c for c in
                 json.load(open(path, encoding="utf-8"))["converters"]}
    except (OSError, ValueError, KeyError, TypeError) as error:
        return ["apply set converters, but its backup is not whole: %s" % error]
    failures = []
    for at, entry in firsts.items():
        kept = saved.get((row_key(entry["uuid"]), at))
        was = [c["settings"] for c in before.values() if c["at"] == at and c["uuid"] == entry["uuid"]]
        settings = {k: kept[k] for k in ("baud", "pluginName") if k in kept} if kept else None
        if settings not in was:
            failures.append("the backup does not hold %s at %s as it was: %s" % (
                entry["uuid"], at, kept))
    return failures


def check_roster(arguments, before, after, previous, drops):
    """A roster is written whole, from what answered and from a search that lost
    nothing, or left as it was."""
    path = arguments[arguments.index("--save") + 1]
    text = open(path, encoding="utf-8").read() if os.path.exists(path) else None
    if text == previous:
        return []
    if drops:
        return ["a search that lost %d answers replaced the roster" % drops]
    try:
        saved = json.loads(text)["converters"]
    except (ValueError, TypeError, KeyError):
        return ["the roster is not whole: %r" % (text or "")[:200]]
    live = {(json.dumps(c["uuid"]), c["from"]) for c in list(before.values()) + list(after.values())}
    failures = ["the roster lists %s at %s, which is not there" % (c.get("uuid"), c.get("ip"))
                for c in saved if (json.dumps(c.get("uuid")), c.get("ip")) not in live]
    if not saved:
        failures.append("a roster with no converter replaced %r" % (previous or "")[:100])
    return failures


def check_findings(arguments, status, lines, after, entries, site):
    """Every "ok" of check is true of a converter now, and every "missing" is
    not there (or may have lost its answer, or was restarting when asked); exit
    0 only when all are ok, and as many answered as expected."""
    failures = []
    findings, summary = lines[:-1], (lines[-1] if lines else {})
    live = {(json.dumps(c["uuid"]), c["from"]) for c in after.values()}
    restarting = {(g, e["converter"]) for g, e in entries if e["did"] == "ignored-restarting"}
    sure = [c for key, c in after.items() if not c["deaf"] and key[:2] not in restarting and
            not site.groups[c["group"]].lossy and not site.groups[c["group"]].late]
    for line in findings:
        there = [c for c in sure if json_text(c["uuid"]) == line.get("uuid") and
                 c["from"] == line.get("ip")]
        if line.get("check") == "missing" and there:
            failures.append("check calls %s at %s missing, but it answers there" % (
                line.get("uuid"), line.get("ip")))
    for line in findings:
        uuid = line.get("now", {}).get("uuid", line.get("uuid"))
        if line.get("check") == "ok" and (json.dumps(uuid), line.get("ip")) not in live:
            failures.append("check calls %s at %s ok, but it is not there" % (
                line.get("uuid"), line.get("ip")))
    answered = [line for line in findings if line.get("check") != "missing"]
    if summary.get("found") != len(answered):
        failures.append("check counts %s found, but lists %d" % (summary.get("found"),
                                                                len(answered)))
    if "--expect" in arguments:
        expected = int(arguments[arguments.index("--expect") + 1])
        if summary.get("expected") != expected:
            failures.append("check expects %s, not %d" % (summary.get("expected"), expected))
    all_ok = summary.get("found") == summary.get("expected") and \
        all(line.get("check") == "ok" for line in findings)
    if summary.get("ok") != all_ok or (status == 0) != all_ok:
        failures.append("check says ok %s with exit status %d, but %d of %s answered and the "
                        "findings are %s" % (summary.get("ok"), status, len(answered),
                                             summary.get("expected"),
                                             [line.get("check") for line in findings]))
    return failures


def check_discover(arguments, status, lines, before, after, drops, lost):
    """Each converter listed answered; answers the system dropped (all of them
    the search's) are said, and make no success."""
    failures = []
    if drops and not lost:
        failures.append("the system dropped %d answers, and lbxctl did not say so" % drops)
    if drops and status == 0:
        failures.append("the system dropped %d answers, yet exit status 0" % drops)
    live = {(json.dumps(c["uuid"]), c["from"]) for c in before.values()} | \
        {(json.dumps(c["uuid"]), c["from"]) for c in after.values()}
    for line in lines:
        if (json.dumps(line.get("uuid")), line.get("ip")) not in live:
            failures.append("listed a converter that is not there: %s" % line)
        if outside(searched(arguments), line.get("ip")) and "askedAt" not in line:
            failures.append("listed a converter outside what was asked, unmarked: %s" % line)
        shared = [other for other in lines if other is not line and
                  json.dumps(other.get("uuid")) == json.dumps(line.get("uuid")) and
                  other.get("ip") != line.get("ip")]
        if bool(line.get("sharedUuid")) != bool(shared):
            failures.append("%s at %s is %smarked as sharing its uuid" % (
                json.dumps(line.get("uuid")), line.get("ip"),
                "" if line.get("sharedUuid") else "not "))
    if status == 0 and not lines:
        failures.append("exit status 0, but nothing listed")
    return failures


def allowed_by(named, before):
    """The addresses the targets name: each address, and where each uuid lives."""
    allowed = set()
    for target in named:
        if target.startswith("uuid:") or not target.startswith("ip:") and target.count(".") != 3:
            uuid = target[5:] if target.startswith("uuid:") else target
            allowed |= {c["from"] for c in before.values() if names(uuid, c["uuid"])}
        else:
            allowed.add(target[3:] if target.startswith("ip:") else target)
    return allowed


def heard_in_time(entries, key):
    """Whether a converter answered an lbx.info of this command in time to be heard."""
    return any(g == key[0] and e["converter"] == key[1] and e.get("call") == "lbx.info" and
               e.get("answered") and not e.get("late") for g, e in entries)


def check_reach(arguments, status, lines, before, changing, entries):
    """Each command reached only what was named, or for --all only an address
    asked that answered there; a uuid whose address was heard answering as
    another uuid too is ambiguous and gets nothing."""
    failures = []
    named = [t for t in arguments[1:arguments.index(next(a for a in arguments[1:]
                                                          if a.startswith("-")))]]
    if any(target in ("", "uuid:") for target in named) and status != 2:
        failures.append("an empty target was not refused (exit status %d)" % status)
    everyone = "--all" in arguments
    allowed = allowed_by(named, before)
    heard = {c["from"] for c in before.values()}
    for _, entry in changing:
        if status == 2:
            failures.append("refused (exit 2), yet %s reached %s" % (entry["call"], entry["to"]))
        elif not everyone and entry["to"] not in allowed:
            failures.append("%s reached %s, which was not named" % (entry["call"], entry["to"]))
        elif everyone and (outside(searched(arguments), entry["to"]) or entry["to"] not in heard):
            failures.append("%s reached %s, which was not asked or did not answer there" % (
                entry["call"], entry["to"]))
    for target in named:
        uuid = target[5:] if target.startswith("uuid:") else target
        if target.startswith("ip:") or (target.count(".") == 3 and not target.startswith("uuid:")):
            continue
        homes = {c["from"] for c in before.values() if names(uuid, c["uuid"])}
        # An address named as well names the address, whatever answers there.
        by_address = {t[3:] if t.startswith("ip:") else t for t in named
                      if t.startswith("ip:") or (t.count(".") == 3 and not t.startswith("uuid:"))}
        twinned = [ip for ip in homes - by_address
                   if any(c.get("twin") and c["from"] == ip and heard_in_time(entries, key)
                          for key, c in before.items())]
        if len(homes) == 1 and twinned and status != 2:
            reached = [e for _, e in changing if e["to"] in twinned]
            if reached:
                failures.append("%s answers as another uuid too, yet %s reached it" % (
                    twinned[0], reached[0]["call"]))
            if not any(line.get("outcome") == "ambiguous" for line in lines):
                failures.append("%s answers as another uuid too: no line calls it ambiguous" %
                                twinned[0])
    return failures


def line_uuids(line):
    """The uuids an outcome line names; none where lbxctl did not learn it."""
    return [u for u in line.get("uuids", []) + [line.get("uuid")] if u is not None]


def check_command(arguments, status, lines, before, after, entries, site, drops, lost):
    """Every claim the command's output makes, held against the journal entries
    written while it ran; the failures found. lost: lbxctl said its search lost
    answers, and drops is what the system counted."""
    if arguments[0] == "check":
        return check_findings(arguments, status, lines, after, entries, site)
    if arguments[0] == "discover":
        return check_discover(arguments, status, lines, before, after, drops, lost)
    call = CALL_OF[arguments[0]]
    changing = [(g, e) for g, e in entries if e.get("call") == call]
    failures = check_reach(arguments, status, lines, before, changing, entries)
    if "--dry-run" in arguments:
        failures += ["a dry run sent %s to %s" % (call, e["to"]) for _, e in changing]
    if "--canary" in arguments:
        failures += check_waves(lines, changing)
    by_ip = {}
    for line in lines:
        if line.get("outcome") == "unasked":  # one line each for those answering from there
            if line.get("ip") in by_ip or not outside(searched(arguments), line.get("ip")):
                failures.append("%s was not asked, but a line says so: %s" % (line["ip"], line))
            continue
        if line.get("ip") in by_ip and line.get("outcome") not in ("confirmed", "not-applied",
                                                                   "timed-out", "interrupted"):
            failures.append("two lines for %s" % line.get("ip"))
        by_ip[line.get("ip")] = line
    if call == "lbx.set":
        baud, plugin = asked_settings(arguments)
        for _, entry in changing:
            if entry["did"] == "applied" and entry["after"] != dict(
                    entry["before"], baud=baud, **({"pluginName": plugin} if plugin else {})):
                failures.append("%s was set to %s, not what was asked" % (entry["at"],
                                                                         entry["after"]))
    taken = {}
    for g, entry in changing:
        if entry["did"] in CHANGED:
            taken.setdefault((g, entry["converter"]), []).append(entry)
    for took in taken.values():
        if len(took) > 1:
            failures.append("%s took %s %d times" % (took[0]["at"], call, len(took)))
    if call == "lbx.set":
        failures += check_resends(call, lambda e: shows(e["after"], asked_settings(arguments)),
                                  entries)
    elif call != "lbx.uploadLog":  # which changes nothing, and is asked again
        failures += check_resends(call, lambda e: None, entries)
    for ip, line in by_ip.items():
        reached = [e for _, e in changing if e["to"] == ip]
        if call == "lbx.factory":
            failures += check_comeback(arguments, line, reached, after, site, drops)
        failures += check_line(call, arguments, line, reached,
                               [c for c in after.values() if c["at"] == ip or
                                c["uuid"] in line_uuids(line)], entries)
        # The uuid a line is about got the command; the others it names answer there.
        took = {json.dumps(c["uuid"]) for c in before.values() if c["at"] in
                {e["at"] for e in reached}}
        if line.get("outcome") in SUCCESS and line.get("uuid") is not None and \
                json.dumps(line["uuid"]) not in took:
            failures.append("%s: %s for %s, which never got %s" % (
                ip, line.get("outcome"), json.dumps(line["uuid"]), call))
        there = {json.dumps(c["uuid"]) for c in before.values() if c["from"] == ip}
        failures += ["%s: the line names %s, which does not answer there" % (ip, json.dumps(u))
                     for u in line.get("uuids", []) if json.dumps(u) not in there]
    # An --all whose search lost answers may have missed converters: no success. A
    # reset's wait searches too, and lbxctl says what those lose as well.
    missed = lost and "--all" in arguments and not (call == "lbx.factory" and
                                                    "--wait" in arguments)
    ok = bool(lines) and all(line.get("ok") for line in lines) and not missed
    if status != 2 and (status == 0) != ok:
        failures.append("exit status %d, but the outcomes say %s" % (status, ok))
    return failures


def check_waves(lines, changing):
    """A staged update holds converters back only after one did not confirm it,
    and sends nothing to those it holds."""
    held = [line["ip"] for line in lines if line.get("outcome") == "held"]
    failures = ["%s is held, yet got %s" % (e["to"], e["call"]) for _, e in changing
                if e["to"] in held]
    stopped = any(line.get("outcome") not in SUCCESS | {"held"} for line in lines)
    if held and not stopped:
        failures.append("converters held, though every wave was confirmed: %s" % held)
    return failures


def restart_seen(entries, reset):
    """Whether anything but the converter's word shows that it restarted: a
    poll it ignored while restarting, a new address, other settings."""
    after = [e for _, e in entries if e["converter"] == reset["converter"] and
             e["t"] > reset["t"] and e["uuid"] == reset["uuid"]]
    return any(e["did"] == "ignored-restarting" for e in after) or \
        any(e["at"] != reset["at"] for e in after) or reset["before"] != reset["after"]


def check_comeback(arguments, line, reached, after, site, drops):
    """A reset converter that came back where the command searched (its address,
    the range swept, a host asked, anywhere for a broadcast), in a group that
    loses and delays nothing, with a uuid of its own, is found there, unless the
    system dropped answers, as lbxctl then says."""
    resets = [e for e in reached if e["did"] == "reset" and e.get("answered") and
              not e.get("late")]
    unseen = "may be back unseen" in line.get("text", "")
    if unseen and not drops:
        return ["%s: %s, though the system dropped nothing" % (line["ip"], line["text"])]
    if line.get("outcome") != "timed-out" or not resets or unseen:
        return []
    reset = resets[0]
    now = [c for c in after.values() if c["uuid"] == reset["uuid"] and not c.get("twin")]
    group = site.groups[now[0]["group"]] if len(now) == 1 else None
    if group is None or group.lossy or group.late or not json_text(reset["uuid"]) or \
            now[0]["deaf"] or now[0]["from"] != now[0]["at"] or \
            outside(searched(arguments), now[0]["at"]):
        return []
    return ["%s: reset, back at %s where the command searched, yet %s" % (
        line["ip"], now[0]["at"], line.get("text"))]


def check_line(call, arguments, line, reached, now, entries):
    """One outcome line against the entries of its converter and its state now."""
    outcome, ip = line.get("outcome"), line.get("ip")
    answered = [e for e in reached if e.get("answered") and e["did"] != "deaf"]
    if outcome == "done" and not any(e["did"] != "rejected" for e in answered):
        return ["%s: done, but no acknowledgement went out: %s" % (ip, reached)]
    if outcome == "failed" and not any(e["did"] == "rejected" for e in answered):
        return ["%s: failed, but it did not reject: %s" % (ip, reached)]
    if outcome in ("already-so", "confirmed") and call == "lbx.set":
        if not any(shows(c["settings"], asked_settings(arguments)) for c in now):
            return ["%s: %s, but it reports %s" % (ip, outcome, [c["settings"] for c in now])]
    resets = [e for e in reached if e["did"] == "reset"]
    if outcome == "confirmed" and call == "lbx.factory":
        if not resets:
            return ["%s: confirmed, but it was never reset: %s" % (ip, reached)]
        # Its own word that it resets, come in time, or a change that shows it.
        if not any(reset.get("answered") and not reset.get("late") or
                   restart_seen(entries, reset) for reset in resets):
            return ["%s: confirmed, but nothing showed the reset: %s" % (ip, reached)]
    if outcome == "confirmed" and call == "lbx.update" and \
            not any(e["did"] == "update-started" for e in reached):
        return ["%s: confirmed, but no update started: %s" % (ip, reached)]
    if outcome == "not-applied" and call == "lbx.set" and \
            all(shows(c["settings"], asked_settings(arguments)) for c in now):
        return ["%s: not applied, but it reports %s" % (ip, [c["settings"] for c in now])]
    return []


def run_command(site, rng, work, lbxctl):
    """Draws one command, runs it, and holds its claims; the story and failures."""
    site.settle()
    before = site.converters()
    marks = [len(g.entries) for g in site.groups]
    arguments = draw_command(rng, site, work)
    roster = os.path.join(work, "roster.json")
    previous = open(roster, encoding="utf-8").read() if os.path.exists(roster) else None
    backup = arguments[arguments.index("--backup") + 1] if "--backup" in arguments else None
    existed = open(backup, encoding="utf-8").read() if backup and os.path.exists(backup) \
        else None
    drops = dropped()
    result = subprocess.run([lbxctl] + arguments + ["--json", "--timeout", str(TIMEOUT)],
                            capture_output=True, text=True, timeout=120)
    drops = dropped() - drops
    site.settle()
    failures, lines = [], []
    for text in result.stdout.splitlines():
        try:
            lines.append(json.loads(text))
        except ValueError:
            failures.append("not a JSON line: %r" % text)
    after, entries = site.converters(), site.entries_since(marks)
    if arguments[0] == "apply":
        failures += check_apply(arguments, result.returncode, lines, before, after, entries,
                                site.plan, existed is not None)
    else:
        failures += check_command(arguments, result.returncode, lines, before, after, entries,
                                  site, drops, "the system dropped" in result.stderr)
    if "--backup" in arguments:
        failures += check_backup(arguments, result.returncode, before, entries, existed)
    if "--save" in arguments:
        failures += check_roster(arguments, before, after, previous, drops)
    story = ["lbxctl %s -> %d" % (" ".join(arguments), result.returncode)]
    if failures:
        story.append(result.stdout + result.stderr)
    return story, failures


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
                told, failed = run_command(site, rng, work, lbxctl)
                story += told
                failures += failed
                if failures:
                    break
        finally:
            site.stop()
    return {"seed": seed, "failures": failures, "story": story}


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
    sandboxed("sitecheck.py")
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
