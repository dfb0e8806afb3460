#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: card_facts
short_description: The VQ cards of the managed host, as facts
version_added: "5.0.0"
description:
  - Lists the cards of the managed host with C(sorvit-image +json list) and
    returns them as the fact C(sorvit_cards), and the host's date as
    C(sorvit_date), so that a play needs no fact gathering.
  - An index that fails to open or to give its card information is an entry
    with C(error), and a warning; the other cards are facts all the same, as
    Ansible's own fact gathering returns partial facts. The task fails only
    with I(fail_on_error), or when sorvit-image gives no document at all.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - ansible.builtin.action_common_attributes.facts
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  facts:
    support: full
  platform:
    platforms: posix
options:
  fail_on_error:
    description:
      - Fail the task when any index failed (the facts are still returned).
    type: bool
    default: false
requirements:
  - sorvit-image 5.0 or later, with its +json output, on the managed host
seealso:
  - module: sorvit.cards.card_image
author:
  - sorvit developers (@velqor)
"""

EXAMPLES = r"""
- name: Find the cards
  sorvit.cards.card_facts:

- name: Find the cards, and stop on a card that fails
  sorvit.cards.card_facts:
    fail_on_error: true

- name: Save every supported card
  ansible.builtin.command:
    argv: [sorvit-image, /card, "{{ item.card_id }}", save, "/var/backups/sorvit/card-{{ item.card_id }}.img"]
    creates: "/var/backups/sorvit/card-{{ item.card_id }}.img"
  loop: "{{ sorvit_cards | selectattr('supported', 'defined') | selectattr('supported') }}"
"""

RETURN = r"""
ansible_facts:
  description: The facts of the host's cards.
  returned: always
  type: complex
  contains:
    sorvit_cards:
      description:
        - "One entry per index, as C(sorvit-image +json list) prints it (its schema is
          list.schema.json): C(index), C(card_id), C(label), C(board_type), C(word_bits) (null when
          the board is not supported), C(supported), C(protected) (C(first) and C(last),
          or null) and C(unfinished_change) (null, or the change of the card that was cut
          short, which C(sorvit-image /card N recover) finishes and C(undo) takes back:
          C(tool), C(action), C(file), C(user), C(uid), C(time), C(run), C(locations) and
          C(locations_written)); or C(index) and C(error) for an index that failed."
      returned: always
      type: list
      elements: dict
      sample: [{"index": 0, "card_id": 0, "label": "0(0x0)", "unfinished_change": null,
                "board_type": 12, "word_bits": 32, "supported": true, "protected": null}]
    sorvit_date:
      description: The managed host's date, in its local time (YYYY-MM-DD), as a dated backup folder is named.
      returned: always
      type: str
      sample: "2026-12-09"
"""

import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.sorvit.cards.plugins.module_utils.sorvit_image import (
    ToolError, card_facts, errors_of, read_document)


def main():
    module = AnsibleModule(argument_spec=dict(fail_on_error=dict(type="bool", default=False)),
                           supports_check_mode=True)
    tool = module.get_bin_path("sorvit-image", required=True)
    rc, out, err = module.run_command([tool, "+json", "list"])
    try:
        doc = read_document(rc, out, err, "list")
    except ToolError as e:
        module.fail_json(msg=str(e), rc=rc, stderr=err)
    facts = {"sorvit_cards": card_facts(doc), "sorvit_date": time.strftime("%Y-%m-%d")}
    if rc != 0:
        msg = "; ".join(errors_of(doc) or [err.strip()])
        if module.params["fail_on_error"]:
            module.fail_json(msg=msg, ansible_facts=facts)
        module.warn("Some cards could not be read: %s" % msg)
    module.exit_json(changed=False, ansible_facts=facts)


if __name__ == "__main__":
    main()
