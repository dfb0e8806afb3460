#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: card_image
short_description: Make the configuration EEPROM of a VQ card match an image
version_added: "5.0.0"
description:
  - Compares one card of the managed host with an image, an image file on
    that host or locations given in the task, and writes the locations that
    differ with C(sorvit-image), then checks that the card matches.
  - Runs C(sorvit-image) from C(PATH) with an argument list and reads its
    JSON output.
  - Protected locations are written only with I(unlock); without it, a task
    whose image differs from the card at a protected location fails and
    names the locations, before anything is written.
  - The task never reports ok for a card that does not match the image.
options:
  card_id:
    description:
      - The ID of the card. Cards keep their ID when they move between slots.
      - Exactly one of I(card_id) and I(index) is required.
    type: int
  index:
    description:
      - The card's index on the host, as C(sorvit-image list) shows it.
    type: int
  path:
    description:
      - An image file on the managed host, as C(sorvit-image save) writes it.
      - Exactly one of I(path) and I(locations) is required.
    type: path
  locations:
    description:
      - The locations to set and their values, as a dict location -> value.
        Both may be numbers or strings such as C("0x30"); locations 0x00 to
        0x3F. Other locations are left as they are.
    type: dict
  unlock:
    description:
      - Whether protected locations may be written.
    type: bool
    default: false
  backup:
    description:
      - Save the card to a timestamped image file before anything is written,
        beside I(path) or in I(backup_dir). Nothing is saved when nothing
        changes.
    type: bool
    default: false
  backup_dir:
    description:
      - The folder for the backup (created when missing); required with
        I(backup) and I(locations).
    type: path
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
  - sorvit-image 5.0 or later, with its +json output, on the managed host
notes:
  - The image is checked whole before anything is written, and every
    location of it is read back after the writes.
seealso:
  - module: sorvit.cards.card_facts
author:
  - sorvit developers (@velqor)
"""

EXAMPLES = r"""
- name: Keep card 101 matched to its golden image
  sorvit.cards.card_image:
    card_id: 101
    path: /var/lib/sorvit/golden/card-101.img
    backup: true
    backup_dir: /var/backups/sorvit/card-101

- name: Set two locations of the card at index 0
  sorvit.cards.card_image:
    index: 0
    locations:
      0x30: 0x1234
      "0x31": "0x00FF"

- name: Write a protected location
  sorvit.cards.card_image:
    card_id: 101
    locations: {5: 0xC005}
    unlock: true
"""

RETURN = r"""
changes:
  description: The locations that differ (check mode) or were written, with the card's value before and the image's after.
  returned: always
  type: list
  elements: dict
  sample: [{"location": 48, "before": 1, "after": 32589}]
card:
  description: The card, as the tools know it.
  returned: when the card was reached
  type: dict
  sample: {"card_id": 101, "board_type": 0, "word_bits": 16}
backup_file:
  description: The image file of the card as it was before the writes.
  returned: when backup is true and the card changed
  type: str
  sample: /var/backups/sorvit/card-101/card-101.2026-12-08T110400.img
"""

import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.sorvit.cards.plugins.module_utils.sorvit_image import (
    CARD_IMAGE_PREFIX, ToolError, card_members, card_of, card_selection, changes_of_check,
    changes_of_load, diff_of, errors_of, image_text, load_outcome, locations_of, parse_locations,
    protected_locations, read_document)

ARGUMENT_SPEC = dict(
    card_id=dict(type="int"),
    index=dict(type="int"),
    path=dict(type="path"),
    locations=dict(type="dict"),
    unlock=dict(type="bool", default=False),
    backup=dict(type="bool", default=False),
    backup_dir=dict(type="path"),
)


def run_tool(module, tool, action, args):
    rc, out, err = module.run_command([tool, "+json"] + args)
    try:
        return rc, read_document(rc, out, err, action), err
    except ToolError as e:
        module.fail_json(msg=str(e), rc=rc, stderr=err)


def image_file(module):
    """The image to check and load: the task's file, or one written from
    its locations in the module's private temporary folder."""
    if module.params["path"] is not None:
        return module.params["path"], module.params["path"]
    try:
        values = parse_locations(module.params["locations"])
    except ValueError as e:
        module.fail_json(msg="locations: %s" % e)
    path = os.path.join(module.tmpdir, "locations.img")
    with open(path, "w") as f:
        f.write(image_text(values))
    return path, "locations of the task"


def backup_path(module, card_id):
    folder = module.params["backup_dir"] or os.path.dirname(os.path.abspath(module.params["path"]))
    stamp = time.strftime("%Y-%m-%dT%H%M%S")
    base = os.path.join(folder, "%s%d.%s" % (CARD_IMAGE_PREFIX, card_id, stamp))
    path, n = base + ".img", 1
    while os.path.lexists(path):
        path, n = "%s.%d.img" % (base, n), n + 1
    return path


def save_backup(module, tool, selection, card_id):
    # sorvit-image makes a missing folder itself, one folder at a time and
    # through no link another user made.
    path = backup_path(module, card_id)
    rc, doc, err = run_tool(module, tool, "save", selection + ["save", path])
    if rc != 0:
        module.fail_json(msg="Backup failed: %s" % "; ".join(errors_of(doc) or [err.strip()]),
                         backup_file=None)
    return path


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENT_SPEC,
        mutually_exclusive=[("card_id", "index"), ("path", "locations")],
        required_one_of=[("card_id", "index"), ("path", "locations")],
        supports_check_mode=True,
    )
    p = module.params
    if p["backup"] and p["locations"] is not None and not p["backup_dir"]:
        module.fail_json(msg="backup with locations needs backup_dir: there is no image file "
                             "to put the backup beside")
    tool = module.get_bin_path("sorvit-image", required=True)
    selection = card_selection(p["card_id"], p["index"])
    image, image_name = image_file(module)

    rc, doc, err = run_tool(module, tool, "check", selection + ["check", image])
    card = card_of(doc)
    if rc not in (0, 1) or "differences" not in doc:
        module.fail_json(msg="; ".join(errors_of(doc) or [err.strip()]), card=card, changes=[])
    changes = changes_of_check(doc)
    result = dict(changed=bool(changes), changes=changes, card=card)
    if module._diff:
        result["diff"] = diff_of(card_members(doc), changes, image_name)
    held = protected_locations(card_members(doc), locations_of(changes))
    if held and not p["unlock"]:
        many = len(held) > 1
        result.update(changed=False, msg="Protected location%s %s differ%s from the image: set "
                      "unlock to write %s" % ("s" if many else "",
                                              ", ".join("0x%02X" % loc for loc in held),
                                              "" if many else "s", "them" if many else "it"))
        module.fail_json(**result)
    if not changes or module.check_mode:
        module.exit_json(**result)

    # The card that was checked, by its ID: an index could name another
    # card by now.
    selection = card_selection(card_id=card["card_id"])
    if p["backup"]:
        result["backup_file"] = save_backup(module, tool, selection, card["card_id"])
    flags = ["+f"] + (["+unlock"] if p["unlock"] else [])
    rc, doc, err = run_tool(module, tool, "load", flags + selection + ["load", image])
    changed, failure = load_outcome(rc, doc, err)
    result.update(changed=changed, changes=changes_of_load(doc))
    if failure:
        module.fail_json(msg=failure, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
