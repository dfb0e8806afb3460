#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: golden_cards
short_description: Keep every VQ card of a host as a folder of golden images says
version_added: "5.1.0"
description:
  - Checks every supported card of the managed host against its golden image
    C(card-ID.img) in I(path) with C(sorvit-image +all check), then loads
    each card that differs, one card at a time, and checks it again.
  - With I(save_missing), a card that has no golden image yet gets one,
    saved from the card as it is, so that a new host's folder describes
    every card it has.
  - The task fails, after the cards that can be kept are kept, when any
    card cannot be read, when a golden image has no card on the host, when
    a protected location differs without I(unlock), or when a change of a
    card was cut short (it names C(sorvit-image /card N recover) and
    C(undo)). It never reports ok for a card that does not match.
  - Every write is in the tools' history, with the values it replaced, and
    C(sorvit-image /card N undo) takes back a card's last change.
options:
  path:
    description:
      - The folder of golden images on the managed host.
    type: path
    required: true
  save_missing:
    description:
      - Save a card that has no golden image in I(path) as its golden image
        (the folder is made when missing).
    type: bool
    default: false
  unlock:
    description:
      - Whether protected locations may be written.
    type: bool
    default: false
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
  platform:
    platforms: posix
requirements:
  - sorvit-image 5.1 or later, with its +json output, on the managed host
seealso:
  - module: sorvit.cards.card_image
  - module: sorvit.cards.card_facts
author:
  - sorvit developers (@velqor)
"""

EXAMPLES = r"""
- name: Every card as its golden image says, made from the card the first time
  sorvit.cards.golden_cards:
    path: /var/lib/sorvit/golden
    save_missing: true
"""

RETURN = r"""
cards:
  description:
    - One entry per card and per golden image without its card, C(label) as the
      tools name the card; C(state) is C(matched), C(loaded), C(saved),
      C(would_load) or C(would_save) (check mode), or C(failed) with C(msg).
    - C(changes) are the locations that differ (check mode) or were written.
  returned: always
  type: list
  elements: dict
  sample: [{"card_id": 101, "label": "101(0x65)", "file": "/var/lib/sorvit/golden/card-101.img",
            "state": "loaded", "changes": [{"location": 48, "before": 1, "after": 32589}]}]
"""

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.sorvit.cards.plugins.module_utils.sorvit_image import (
    ToolError, card_selection, golden_plan, load_outcome, changes_of_load, errors_of,
    read_document)

ARGUMENT_SPEC = dict(
    path=dict(type="path", required=True),
    save_missing=dict(type="bool", default=False),
    unlock=dict(type="bool", default=False),
)


def run_tool(module, tool, action, args):
    rc, out, err = module.run_command([tool, "+json"] + args)
    try:
        return rc, read_document(rc, out, err, action), err
    except ToolError as e:
        return rc, None, str(e)


def act(module, tool, entry):
    """Saves or loads one card as its entry says; the entry's new state."""
    selection = card_selection(card_id=entry["card_id"])
    if entry["state"] == "would_save":
        rc, doc, err = run_tool(module, tool, "save", selection + ["save", entry["file"]])
        if rc == 0:
            return dict(entry, state="saved")
        why = errors_of(doc) if doc else [err]
        return dict(entry, state="failed", msg="; ".join(why or [err.strip()]))
    flags = ["+f"] + (["+unlock"] if module.params["unlock"] else [])
    rc, doc, err = run_tool(module, tool, "load", flags + selection + ["load", entry["file"]])
    if doc is None:
        return dict(entry, state="failed", msg=err)
    failure = load_outcome(rc, doc, err)[1]
    entry = dict(entry, changes=changes_of_load(doc))
    return dict(entry, state="failed", msg=failure) if failure else dict(entry, state="loaded")


def main():
    module = AnsibleModule(argument_spec=ARGUMENT_SPEC, supports_check_mode=True)
    p = module.params
    tool = module.get_bin_path("sorvit-image", required=True)
    folder = os.path.abspath(p["path"])
    # A folder not made yet: every card is to be saved, as list finds them.
    new = p["save_missing"] and not os.path.lexists(folder)
    action = "list" if new else "check"
    rc, doc, err = run_tool(module, tool, action, ["list"] if new else ["+all", "check", folder])
    if doc is None:
        module.fail_json(msg=err, cards=[])
    plan, diffs = golden_plan(doc, os.path.lexists, p["save_missing"], p["unlock"], folder)
    if not module.check_mode:
        plan = [act(module, tool, e) if e["state"] in ("would_load", "would_save") else e
                for e in plan]
    changed = any(e["state"] in ("loaded", "saved", "would_load", "would_save") for e in plan)
    result = dict(changed=changed, cards=plan)
    if module._diff:
        result["diff"] = diffs
    failed = [e for e in plan if e["state"] == "failed"]
    if failed:
        module.fail_json(msg="; ".join("%s: %s" % (e.get("label") or e.get("file"), e["msg"])
                                       for e in failed), **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
