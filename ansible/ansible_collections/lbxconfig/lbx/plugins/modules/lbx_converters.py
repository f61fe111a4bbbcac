#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 LBXConfig maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: lbx_converters
short_description: Baud rate and protocol plug-in of a site's LBX converters
version_added: 0.1.0
description:
  - Sets the site's converters as I(config) (or a plan or roster file, I(src))
    says, with C(lbxctl apply) on the site computer; each change is confirmed
    by what the converter reports once it is back.
  - Only the converters that differ are set; a second run with the same
    configuration changes nothing.
  - In check mode it searches, compares and reports what would change, and
    sends nothing but the search (C(lbxctl apply --dry-run)).
author: LBXConfig maintainers
requirements:
  - lbxctl (the lbxconfig package) on the site computer
options:
  config:
    description:
      - The converters and the settings each should have.
    type: list
    elements: dict
    suboptions:
      uuid:
        description: The converter's uuid.
        type: str
        required: true
      baud:
        description: Its baud rate (4800, 9600, 19200, 38400 or 115200).
        type: int
        required: true
      plugin:
        description:
          - Its protocol plug-in (OvUdp485, OvCom485, OvTcp485 or Net485);
            left out, the converter keeps its own.
        type: str
  src:
    description:
      - A plan (CSV with the columns uuid, baud and plugin, or JSON lines) or a
        roster (C(lbxctl discover --save), or a backup this module wrote) on the
        site computer, instead of I(config). A roster puts back exactly what
        each converter reported.
    type: path
  state:
    description:
      - C(merged) sets the converters that differ; C(gathered) returns the
        converters as they are, in the form of I(config); C(rendered) returns
        the plan I(config) makes, without a search.
    type: str
    choices: [merged, gathered, rendered]
    default: merged
  backup:
    description:
      - Saves the converters about to be set, as they are, before the first is
        set, in a new file in I(backup_dir); returned as I(backup_file), it is
        the undo of the run (I(src)=I(backup_file)).
    type: bool
    default: false
  backup_dir:
    description: Where the backups go on the site computer.
    type: path
    default: ~/.lbxconfig/backups
  wait_timeout:
    description: Seconds to wait for the converters to come back (default 60).
    type: float
extends_documentation_fragment:
  - lbxconfig.lbx.search
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
notes:
  - The task fails when a converter of the plan is missing or ambiguous, or a
    change is not confirmed, with each converter's outcome in I(results); a bad
    plan, or a backup that cannot be written, fails it with lbxctl's words.
"""

EXAMPLES = r"""
- name: The site's converters as its spreadsheet has them
  lbxconfig.lbx.lbx_converters:
    config:
      - {uuid: LBXSIM000001, baud: 115200, plugin: OvTcp485}
      - {uuid: LBXSIM000002, baud: 19200}
    backup: true
  register: rollout

- name: Undo it
  lbxconfig.lbx.lbx_converters:
    src: "{{ rollout.backup_file }}"

- name: The converters as they are
  lbxconfig.lbx.lbx_converters:
    state: gathered
"""

RETURN = r"""
results:
  description:
    - Each converter of the plan, and each that answered and no row names, with
      what apply planned (C(set), C(unchanged), C(missing), C(ambiguous),
      C(not-in-plan), C(not-restorable)) and, where it was sent a setting, its
      outcome (C(confirmed), C(not-applied), C(timed-out), C(partial), ...).
  returned: state is merged
  type: list
  elements: dict
  sample:
    - {uuid: LBXSIM000001, ip: 127.0.0.2, plan: set, baud: 115200, plugin: OvTcp485,
       outcome: confirmed}
missing:
  description: The uuids of the plan that did not answer.
  returned: state is merged
  type: list
  elements: str
ambiguous:
  description: The uuids of the plan that answered from two addresses, or whose address answers as another uuid too.
  returned: state is merged
  type: list
  elements: str
backup_file:
  description: The backup written, the undo of the run.
  returned: when backup is true and a converter was to be set
  type: str
  sample: /home/tech/.lbxconfig/backups/lbxconfig-20261208T120000-4242.json
gathered:
  description: The converters as they are, in the form of I(config), with their address.
  returned: state is gathered
  type: list
  elements: dict
rendered:
  description: The plan I(config) makes, as JSON lines.
  returned: state is rendered
  type: str
"""

import json
import os
import tempfile
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lbxconfig.lbx.plugins.module_utils import lbxctl

# What apply reports after sending a setting that shows the converter set.
SET = ("confirmed", "partial")


def plan_text(config):
    """config as JSON lines, which lbxctl apply reads as a plan."""
    rows = []
    for row in config:
        line = {"uuid": row["uuid"], "baud": row["baud"]}
        if row.get("plugin") is not None:
            line["plugin"] = row["plugin"]
        rows.append(json.dumps(line, sort_keys=True))
    return "\n".join(rows) + "\n"


def settings(record):
    return {"baud": record.get("baud"), "plugin": record.get("pluginName")}


def converters(lines):
    """Each plan line of lbxctl apply, with the outcome of what was sent to it."""
    found = []
    for line in lines:
        if "plan" in line:
            found.append(dict((k, v) for k, v in line.items() if k != "command"))
    for line in lines:
        if "outcome" not in line:
            continue
        for converter in found:
            if converter.get("ip") == line.get("ip") and converter.get("plan") == "set":
                converter["outcome"] = line["outcome"]
                converter["text"] = line.get("text", "")
    return found


def diff_of(found):
    before, after = {}, {}
    for converter in found:
        if converter["plan"] != "set":
            continue
        was = settings(converter.get("before", {}))
        before[converter["uuid"]] = was
        after[converter["uuid"]] = {
            "baud": converter["baud"],
            "plugin": was["plugin"] if converter.get("plugin") is None else converter["plugin"]}
    return {"before": before, "after": after}


def backup_path(module):
    folder = module.params["backup_dir"]
    if not os.path.isdir(folder):
        os.makedirs(folder, 0o700)
    return os.path.join(folder, "lbxconfig-%s-%d.json" % (
        time.strftime("%Y%m%dT%H%M%S"), os.getpid()))


def merged(module):
    params = module.params
    arguments = ["apply"]
    plan = params["src"]
    if plan is None:
        handle, plan = tempfile.mkstemp(prefix="lbxconfig-plan-", suffix=".jsonl")
        with os.fdopen(handle, "w") as out:
            out.write(plan_text(params["config"]))
    arguments.append(plan)
    if params["wait_timeout"] is not None:
        arguments += ["--wait-timeout", str(params["wait_timeout"])]
    backup = None
    if module.check_mode:
        arguments.append("--dry-run")
    elif params["backup"]:
        backup = backup_path(module)
        arguments += ["--backup", backup]
    try:
        status, lines, err = lbxctl.run(module, arguments)
    finally:
        if params["src"] is None:
            os.remove(plan)
    found = converters(lines)
    result = dict(
        results=found,
        missing=[c["uuid"] for c in found if c["plan"] == "missing"],
        ambiguous=[c["uuid"] for c in found if c["plan"] == "ambiguous"],
        changed=any(c["plan"] == "set" and (module.check_mode or c.get("outcome") in SET)
                    for c in found))
    if backup and os.path.exists(backup):
        result["backup_file"] = backup
    if module._diff:
        result["diff"] = diff_of(found)
    lbxctl.fail_unless_done(module, status, err, **result)
    module.exit_json(**result)


def gathered(module):
    status, lines, err = lbxctl.run(module, ["discover"])
    found = [dict(uuid=c.get("uuid"), baud=c.get("baud"), plugin=c.get("pluginName"),
                  ip=c.get("ip")) for c in lines]
    lbxctl.fail_unless_done(module, status, err, gathered=found, changed=False)
    module.exit_json(changed=False, gathered=found)


def main():
    argument_spec = dict(
        config=dict(type="list", elements="dict", options=dict(
            uuid=dict(type="str", required=True),
            baud=dict(type="int", required=True),
            plugin=dict(type="str"))),
        src=dict(type="path"),
        state=dict(type="str", choices=["merged", "gathered", "rendered"], default="merged"),
        backup=dict(type="bool", default=False),
        backup_dir=dict(type="path", default="~/.lbxconfig/backups"),
        wait_timeout=dict(type="float"),
    )
    argument_spec.update(lbxctl.SEARCH_ARGUMENTS)
    module = AnsibleModule(
        argument_spec=argument_spec, supports_check_mode=True,
        mutually_exclusive=[("config", "src")],
        required_if=[("state", "merged", ("config", "src"), True),
                     ("state", "rendered", ("config",))])
    state = module.params["state"]
    if state == "rendered":
        module.exit_json(changed=False, rendered=plan_text(module.params["config"]))
    if state == "gathered":
        gathered(module)
    merged(module)


if __name__ == "__main__":
    main()
