# -*- coding: utf-8 -*-
# Copyright 2026 LBXConfig maintainers

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module takes: which lbxctl, and how it searches.
    DOCUMENTATION = r"""
options:
  executable:
    description: The lbxctl program on the site computer.
    type: path
    default: lbxctl
  interface:
    description: Searches through this adapter only.
    type: str
  sweep:
    description:
      - Ranges (CIDR, at most a /16) whose every address is asked by unicast
        instead of a broadcast, for converters behind a router.
    type: list
    elements: str
    default: []
  hosts:
    description: Addresses asked by unicast instead of a broadcast.
    type: list
    elements: str
    default: []
  timeout:
    description: Seconds to wait for each answer (lbxctl's default is 2).
    type: float
"""
