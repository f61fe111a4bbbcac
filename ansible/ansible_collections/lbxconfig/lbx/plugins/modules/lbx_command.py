#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 LBXConfig maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: lbx_command
short_description: Maintenance commands to a site's LBX converters
version_added: 0.1.0
description:
  - Asks the converters named (or every one that answers, I(all)) to look for
    an application update, to upload their log, or to return to factory
    settings, with C(lbxctl) on the site computer.
  - An update may go out in waves (I(canary), I(wave_size)), each once every
    converter of the last confirmed the new version, stopping at the first
    wave in which one does not; across sites, a play's C(serial) and
    C(max_fail_percentage) stop the rollout at the site where it failed.
  - In check mode it says which converters the command would go to and sends
    it to none (C(lbxctl --dry-run), which sends only lbx.info).
author: LBXConfig maintainers
requirements:
  - lbxctl (the lbxconfig package) on the site computer
options:
  command:
    description: What to ask.
    type: str
    required: true
    choices: [update, upload_log, factory]
  targets:
    description:
      - Converters by address (four decimal numbers) or uuid; C(ip:ADDRESS)
        and C(uuid:TEXT) say which.
    type: list
    elements: str
    default: []
  all:
    description: Every converter that answers a search.
    type: bool
    default: false
  confirm:
    description:
      - For C(factory), which loses each converter's configuration and data,
        it must be true, or the task fails and nothing is sent.
    type: bool
    default: false
  wait:
    description:
      - Waits for each converter to come back and confirms what it reports
        (a new version, a restart); only a confirmed outcome is success.
    type: bool
    default: false
  wait_timeout:
    description: Seconds to wait for the converters to come back.
    type: float
  canary:
    description: For C(update), in waves, the size of the first (it waits as I(wait) does).
    type: int
  wave_size:
    description: For C(update), in waves, the size of each after the first.
    type: int
extends_documentation_fragment:
  - lbxconfig.lbx.search
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
notes:
  - The task fails when a converter did not do what was asked (silent,
    refused, not confirmed, held back by a stopped rollout), with each
    converter's outcome in I(results).
"""

EXAMPLES = r"""
- name: An update, one converter first, then two at a time
  lbxconfig.lbx.lbx_command:
    command: update
    all: true
    canary: 1
    wave_size: 2

- name: Factory settings for one converter
  lbxconfig.lbx.lbx_command:
    command: factory
    targets: [LBXSIM000003]
    confirm: true
    wait: true
"""

RETURN = r"""
results:
  description: Each converter's outcome, as lbxctl reports it (C(done), C(confirmed), C(failed), C(held), C(dry-run), ...).
  returned: always
  type: list
  elements: dict
  sample:
    - {uuid: LBXSIM000001, ip: 127.0.0.2, command: update, outcome: confirmed, ok: true,
       text: app 1.5 -> 1.6 after 2.0 s}
held:
  description: The addresses a stopped staged update did not send to.
  returned: always
  type: list
  elements: str
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lbxconfig.lbx.plugins.module_utils import lbxctl

REACHED = ("done", "already-so", "confirmed", "not-applied", "timed-out", "dry-run")


def command_line(params, check_mode):
    arguments = [params["command"].replace("_", "-")] + params["targets"]
    if params["all"]:
        arguments.append("--all")
    if params["command"] == "factory":
        arguments.append("--yes")
    if params["wait"]:
        arguments.append("--wait")
    if params["wait_timeout"] is not None:
        arguments += ["--wait-timeout", str(params["wait_timeout"])]
    for option in ("canary", "wave_size"):
        if params[option] is not None:
            arguments += ["--" + option.replace("_", "-"), str(params[option])]
    if check_mode:
        arguments.append("--dry-run")
    return arguments


def main():
    argument_spec = dict(
        command=dict(type="str", required=True, choices=["update", "upload_log", "factory"]),
        targets=dict(type="list", elements="str", default=[]),
        all=dict(type="bool", default=False),
        confirm=dict(type="bool", default=False),
        wait=dict(type="bool", default=False),
        wait_timeout=dict(type="float"),
        canary=dict(type="int"),
        wave_size=dict(type="int"),
    )
    argument_spec.update(lbxctl.SEARCH_ARGUMENTS)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           required_one_of=[("targets", "all")])
    params = module.params
    if params["command"] == "factory" and not params["confirm"]:
        module.fail_json(msg="factory returns converters to factory settings and loses their "
                             "configuration and data: set confirm: true to go ahead; nothing "
                             "was sent")
    if params["command"] != "update" and (params["canary"] or params["wave_size"]):
        module.fail_json(msg="canary and wave_size stage an update only; nothing was sent")
    status, lines, err = lbxctl.run(module, command_line(params, module.check_mode))
    result = dict(
        results=lines,
        held=[line["ip"] for line in lines if line.get("outcome") == "held"],
        changed=any(line.get("outcome") in REACHED for line in lines))
    lbxctl.fail_unless_done(module, status, err, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
