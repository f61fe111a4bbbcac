"""ansible.py LBXCTL LBXSIM

The Ansible collection as an automation team runs it from the centre: three
simulated sites, each a network namespace with its own converters (lbxsim,
with a journal) and an ssh server on the far end of its own private link, which
the controller here reaches as AWX reaches site computers. One inventory, and
the playbooks of docs/ansible.md (ansible/examples/): the roll-out in check mode
with diff (nothing sent but searches, by the journals), then for real (each
converter set once), then again (nothing changed); a staged update that stops
at the site whose converters refuse it; a factory reset refused without its
confirmation; the undo from a backup. Broadcasts stay inside each site. Every
wait is bounded. Runs inside scripts/netns-run."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

from sites import ROOT, check, fail, sandboxed, start_site, stop, wait_for

EXAMPLES = os.path.join(ROOT, "ansible", "examples")
SITES = 3
# What each site's spreadsheet asks; site 2's converters refuse any update.
CONVERTERS = [
    {"uuid": "LBXSIM000001", "baud": 115200, "plugin": "OvTcp485"},
    {"uuid": "LBXSIM000002", "baud": 19200},
]

# A site: its converters on lo, its end of the link at 10.91.N.2, and sshd
# there, whose sessions find lbxctl on their PATH.
SITE_SCRIPT = r'''
set -eu
link=$1 address=$2 lbxsim=$3 dir=$4 quirks=$5
while ! ip link show "$link" >/dev/null 2>&1; do sleep 0.02; done
ip link set lo up
ip link set "$link" up
ip addr add "$address/24" dev "$link"
# shellcheck disable=SC2086
"$lbxsim" --count 3 --update-to 1.6 --journal "$dir/journal" $quirks >"$dir/lbxsim.log" 2>&1 &
exec /usr/sbin/sshd -D -e -f "$dir/sshd_config" 2>"$dir/sshd.log"
'''

SSHD_CONFIG = """ListenAddress {address}
HostKey {work}/host_key
AuthorizedKeysFile {work}/client_key.pub
PidFile {dir}/sshd.pid
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
SetEnv PATH={work}/bin:/usr/bin:/bin:/usr/sbin:/sbin
"""


def journal(work, n):
    path = os.path.join(work, "site%d" % n, "journal")
    with open(path, encoding="utf-8") as lines:
        return [json.loads(line) for line in lines if line.strip()]


def calls(work, n, call):
    return [e for e in journal(work, n) if e.get("call") == call]


def site(n, work, lbxsim, processes):
    folder = os.path.join(work, "site%d" % n)
    os.mkdir(folder)
    address = "10.91.%d.2" % n
    with open(os.path.join(folder, "sshd_config"), "w") as config:
        config.write(SSHD_CONFIG.format(address=address, work=work, dir=folder))
    quirks = "--rejects-update 1 --rejects-update 2 --rejects-update 3" if n == 2 else ""
    start_site("lbxs%d" % n, "10.91.%d.1" % n, address, SITE_SCRIPT,
               [lbxsim, folder, quirks], processes)
    wait_for("site %d's sshd" % n, lambda: os.path.exists(os.path.join(folder, "sshd.pid")), 30)
    wait_for("site %d's converters" % n,
             lambda: " converters on " in open(os.path.join(folder, "lbxsim.log")).read(), 30)


def inventory(work):
    """The docs' inventory, its sites made these three."""
    path = os.path.join(work, "inventory")
    os.makedirs(os.path.join(path, "host_vars"))
    with open(os.path.join(path, "hosts"), "w") as hosts:
        hosts.write("[sites]\n")
        for n in range(1, SITES + 1):
            hosts.write("site%d ansible_host=10.91.%d.2\n" % (n, n))
        hosts.write("\n[sites:vars]\nansible_user=root\nansible_python_interpreter=/usr/bin/python3\n"
                    "ansible_ssh_private_key_file=%s/client_key\n"
                    # No connection kept open: one left by an earlier run
                    # would reach its site, in a namespace of its own.
                    "ansible_ssh_args='-o ControlMaster=no -o StrictHostKeyChecking=no "
                    "-o UserKnownHostsFile=/dev/null'\n" % work)
        for n in range(1, SITES + 1):
            with open(os.path.join(path, "host_vars", "site%d.yml" % n), "w") as site:
                json.dump({"converters": CONVERTERS}, site)
    return path


def ansible(work, program, *arguments, **settings):
    """Runs an Ansible program against the inventory, with the collection of this tree."""
    environment = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.path.join(ROOT, "ansible"),
                       ANSIBLE_HOST_KEY_CHECKING="False", ANSIBLE_NOCOLOR="1",
                       ANSIBLE_LOCAL_TEMP=os.path.join(work, "ansible-local"),
                       ANSIBLE_REMOTE_TEMP=os.path.join(work, "ansible-remote"), **settings)
    return subprocess.run([program, "-i", os.path.join(work, "inventory")] + list(arguments),
                          capture_output=True, text=True, env=environment, timeout=300)


def playbook(work, name, *options):
    """Runs an example playbook; its exit status and its results by task and host."""
    run = ansible(work, "ansible-playbook", os.path.join(EXAMPLES, name), *options,
                  ANSIBLE_STDOUT_CALLBACK="json", ANSIBLE_FORKS="3")
    try:
        report = json.loads(run.stdout)
    except ValueError:
        fail("%s did not report as JSON" % name, run.stdout[-2000:] + run.stderr[-2000:])
    results = {}
    if os.environ.get("LBX_ANSIBLE_DEBUG"):
        print(run.stderr[-3000:], json.dumps(report, indent=1)[:6000])
    for play in report["plays"]:
        for task in play["tasks"]:
            results.setdefault(task["task"]["name"], {}).update(task["hosts"])
    return run.returncode, results, report["stats"]


def roll_out(work):
    status, results, _ = playbook(work, "rollout.yml", "--check", "--diff")
    task = results["Baud rate and plug-in as planned, with the undo saved first"]
    check(status == 0 and all(task[h]["changed"] and task[h]["diff"]["after"]
                              for h in task),
          "check mode with diff: each site would change, before and after shown", str(task))
    check(all(not calls(work, n, "lbx.set") for n in range(1, SITES + 1)),
          "check mode sent nothing but searches, by the journals")
    status, results, stats = playbook(work, "rollout.yml")
    check(status == 0 and all(stats[h]["changed"] >= 1 for h in stats),
          "the roll-out changed each site", str(stats))
    task = results["Baud rate and plug-in as planned, with the undo saved first"]
    backups = {host: task[host].get("backup_file") for host in task}
    for n in range(1, SITES + 1):
        applied = sorted(e["uuid"] for e in calls(work, n, "lbx.set") if e["did"] == "applied")
        check(applied == ["LBXSIM000001", "LBXSIM000002"],
              "site%d: each planned converter set once, by the journal" % n, str(applied))
    status, results, stats = playbook(work, "rollout.yml")
    check(status == 0 and all(stats[h]["changed"] == 0 for h in stats),
          "a second run changes nothing", str(stats))
    return backups


def staged_update(work):
    status, results, _ = playbook(work, "staged-update.yml")
    updated = [len([e for e in calls(work, n, "lbx.update") if e["did"] == "update-started"])
               for n in range(1, SITES + 1)]
    refused = [len([e for e in calls(work, n, "lbx.update") if e["did"] == "rejected"])
               for n in range(1, SITES + 1)]
    check(status != 0 and updated == [3, 0, 0] and refused == [0, 1, 0],
          "a staged update: site1 all, site2 stopped at its canary, site3 never reached",
          "updated %s, refused %s" % (updated, refused))


def factory_unconfirmed(work):
    run = ansible(work, "ansible", "sites", "-m", "lbxconfig.lbx.lbx_command", "-a",
                  "command=factory all=true")
    check(run.returncode != 0 and run.stdout.count("set confirm: true to go ahead") == SITES and
          all(not calls(work, n, "lbx.factory") for n in range(1, SITES + 1)),
          "factory without confirm: refused at every site, nothing sent", run.stdout[-1500:])


def undo(work, backups):
    status, _, _ = playbook(work, "undo.yml", "--limit", "site1", "-e",
                            "backup_file=%s" % backups["site1"])
    now = {}
    for entry in journal(work, 1):
        if "after" in entry:
            now[entry["uuid"]] = entry["after"]
    check(status == 0 and now.get("LBXSIM000001") == {"baud": 9600, "pluginName": "OvUdp485"}
          and now.get("LBXSIM000002") == {"baud": 9600, "pluginName": "OvUdp485"},
          "site1 put back from its backup", str(now))


def main():
    sandboxed("ansible.py", ("ansible-playbook", "/usr/sbin/sshd", "ssh-keygen"))
    lbxctl, lbxsim = sys.argv[1], sys.argv[2]
    started = time.monotonic()
    processes = []
    work = tempfile.mkdtemp(prefix="lbx-ansible-")
    try:
        os.makedirs("/run/sshd", exist_ok=True)  # sshd's privilege separation
        os.mkdir(os.path.join(work, "bin"))
        os.symlink(os.path.abspath(lbxctl), os.path.join(work, "bin", "lbxctl"))
        for key in ("host_key", "client_key"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                            os.path.join(work, key)], check=True)
        for n in range(1, SITES + 1):
            site(n, work, lbxsim, processes)
        inventory(work)
        backups = roll_out(work)
        staged_update(work)
        factory_unconfirmed(work)
        undo(work, backups)
        for n in range(1, SITES + 1):
            senders = {e["from"].split(":")[0] for e in journal(work, n)}
            check(senders <= {"127.0.0.1", "10.91.%d.2" % n},
                  "site%d heard only its own site computer" % n, str(senders))
    finally:
        stop(processes)
        shutil.rmtree(work, ignore_errors=True)
    print("ansible: three sites in %.0f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
