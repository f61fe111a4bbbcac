#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 LBXConfig maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: lbx_info
short_description: The LBX converters of a site
version_added: 0.1.0
description:
  - Searches the site's LAN for LBX converters from the site computer, as
    C(lbxctl discover) does, and returns what each one reports.
  - Runs on the site computer, which must be in the converters' network segment
    (the search is a broadcast) or reach them with I(sweep) or I(hosts).
  - Never changes anything.
author: LBXConfig maintainers
requirements:
  - lbxctl (the lbxconfig package) on the site computer
extends_documentation_fragment:
  - lbxconfig.lbx.search
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
notes:
  - The task fails when no converter answers, or when the system dropped
    answers (C(lbxctl discover) exits 1); the converters found are returned
    all the same.
"""

EXAMPLES = r"""
- name: What each site has
  lbxconfig.lbx.lbx_info:
  register: site

- name: Converters behind a router
  lbxconfig.lbx.lbx_info:
    sweep: [10.80.0.0/24]
"""

RETURN = r"""
converters:
  description: Each converter that answered, as it reports itself.
  returned: always
  type: list
  elements: dict
  sample:
    - uuid: LBXSIM000001
      ip: 127.0.0.2
      appVersion: 1.5
      romVersion: 2.0.1
      baud: 9600
      pluginName: OvUdp485
      caption: 网络字节协议
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lbxconfig.lbx.plugins.module_utils import lbxctl


def main():
    module = AnsibleModule(argument_spec=dict(lbxctl.SEARCH_ARGUMENTS), supports_check_mode=True)
    status, lines, err = lbxctl.run(module, ["discover"])
    lbxctl.fail_unless_done(module, status, err, converters=lines, changed=False)
    module.exit_json(changed=False, converters=lines)


if __name__ == "__main__":
    main()
