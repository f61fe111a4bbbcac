# -*- coding: utf-8 -*-
# Copyright 2026 LBXConfig maintainers
"""What the modules share: lbxctl run on the site computer with --json under a
C locale (its machine output never changes with the language), its JSON lines
read, and its exit statuses turned into task results."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# The options every module takes, as AnsibleModule's argument_spec: where
# lbxctl is, and how it searches for the site's converters.
SEARCH_ARGUMENTS = dict(
    executable=dict(type="path", default="lbxctl"),
    interface=dict(type="str"),
    sweep=dict(type="list", elements="str", default=[]),
    hosts=dict(type="list", elements="str", default=[]),
    timeout=dict(type="float"),
)

# lbxctl's exit statuses (lbxctl(1)).
NOT_ALL_DONE = 1
BAD_INPUT = 2
OUTPUT_FAILED = 74
INTERRUPTED = 130


def search_arguments(params):
    """The command line of the search the module's options ask for."""
    arguments = []
    if params.get("interface"):
        arguments += ["--interface", params["interface"]]
    for cidr in params.get("sweep") or []:
        arguments += ["--sweep", cidr]
    for host in params.get("hosts") or []:
        arguments += ["--host", host]
    if params.get("timeout") is not None:
        arguments += ["--timeout", str(params["timeout"])]
    return arguments


def run(module, arguments):
    """lbxctl with the arguments, --json and the module's search options; its
    exit status, its JSON lines and what it said on standard error."""
    executable = module.params["executable"]
    if "/" not in executable:
        executable = module.get_bin_path(executable, required=True)
    command = [executable] + arguments + search_arguments(module.params) + ["--json"]
    status, out, err = module.run_command(
        command, environ_update={"LC_ALL": "C.UTF-8", "LANGUAGE": ""})
    lines = []
    for text in out.splitlines():
        if text.strip():
            try:
                lines.append(json.loads(text))
            except ValueError:
                module.fail_json(msg="lbxctl printed what is not a JSON line: %s" % text,
                                 rc=status, cmd=command)
    return status, lines, err.strip()


def fail_unless_done(module, status, err, **result):
    """Bad input (2), an output that could not be written (74) and an interrupt
    fail the task with lbxctl's own words; "not all done" (1) fails it with each
    converter's outcome in the result."""
    if status == 0:
        return
    words = err or "lbxctl exited with status %d" % status
    if status == NOT_ALL_DONE:
        module.fail_json(msg="not every converter did what was asked: " + words, rc=status,
                         **result)
    module.fail_json(msg=words, rc=status, **result)
