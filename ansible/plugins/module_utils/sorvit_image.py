# -*- coding: utf-8 -*-
"""What the modules share: running sorvit-image +json and reading its
document, and the image text of a card's locations. The logic is kept free
of AnsibleModule so that the unit tests reach it directly."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import re

FORMAT_VERSION = 1  # the document format these modules read
LOCATIONS = 64  # 0x00 to 0x3F
MAX_VALUE = 0xFFFFFFFF
MATCHING_RESULTS = ("written", "already_matched")  # a load that left the card as the image
CARD_IMAGE_PREFIX = "card-"  # card-ID.img, as sorvit-image names a card's image
# These, the cells and every member read of a document, are checked against
# the schemas and the tools by the tests, where the contract is written once.
# Documents are read here only.


class ToolError(Exception):
    """sorvit-image failed, or said something these modules cannot read."""


def card_selection(card_id=None, index=None):
    """The options that choose the card."""
    if card_id is not None:
        return ["/card", str(card_id)]
    return ["/index", str(index)]


# What the tools take for a number: decimal, or hexadecimal with 0x, with
# blanks around it; ASCII digits only (Python's int() would also take
# "0x1_0", "0b1010" and other scripts' digits).
_NUMBER = re.compile(r"\s*(?:0x([0-9a-fA-F]+)|(-?[0-9]+))\s*", re.ASCII)  # a sign: out of range


def _number(text, what):
    if isinstance(text, bool):
        raise ValueError("%s %r is not a number" % (what, text))
    if isinstance(text, int):
        return text
    match = _NUMBER.fullmatch(str(text))
    if not match:
        raise ValueError("%s %r is not a number (decimal, or hexadecimal with 0x)" % (what, text))
    return int(match.group(1), 16) if match.group(1) else int(match.group(2), 10)


def parse_locations(locations):
    """The dict location -> value of a task, as {int: int}. Keys and values
    may be numbers or strings such as "0x30" (a YAML key 0x30 reaches the
    module as "48"); each location 0x00 to 0x3F at most once."""
    if not locations:
        raise ValueError("locations is empty: give at least one location and its value")
    values = {}
    for key, value in locations.items():
        location = _number(key, "location")
        if not 0 <= location < LOCATIONS:
            raise ValueError("location %s is out of range: 0x00 to 0x3F" % key)
        if location in values:
            raise ValueError("location 0x%02X is given twice" % location)
        number = _number(value, "value of location 0x%02X" % location)
        if not 0 <= number <= MAX_VALUE:
            raise ValueError("value %s of location 0x%02X does not fit 32 bits" % (value, location))
        values[location] = number
    return values


def image_text(values):
    """An image that lists the given locations only, for check and load."""
    lines = ["# locations given to sorvit.cards.card_image"]
    lines += [cell(loc, values[loc], 16) for loc in sorted(values)]  # a wider value keeps its digits
    return "\n".join(lines) + "\n"


def read_document(rc, out, err, action):
    """The document of a run, or ToolError when there is none to read."""
    import json

    try:
        doc = json.loads(out)
    except ValueError:
        message = err.strip() or "no JSON document on standard output"
        raise ToolError("sorvit-image %s failed (status %s): %s" % (action, rc, message))
    if not isinstance(doc, dict) or doc.get("format_version") != FORMAT_VERSION:
        raise ToolError("sorvit-image printed a document of format %r; these modules read format %d"
                        % (doc.get("format_version") if isinstance(doc, dict) else None,
                           FORMAT_VERSION))
    return doc


def errors_of(doc):
    """Every error message of a document, the run's and each card's."""
    messages = []
    for holder in [doc] + list(doc.get("cards") or []):
        error = holder.get("error")
        if error:
            messages.append(error.get("message", "").strip())
    return [m for m in messages if m]


def card_of(doc):
    """What the task returns of the card."""
    card = doc.get("card") or {}
    return {"card_id": card.get("card_id"), "board_type": card.get("board_type"),
            "word_bits": card.get("word_bits")}


def card_members(doc):
    """The card of a document, all its members."""
    return doc.get("card") or {}


def cards_of(doc):
    """The entries of a list or +all document."""
    return doc.get("cards") or []


def card_facts(doc):
    """The cards of a list document as facts: each card says whether a
    change of it was cut short (unfinished_change, null when none)."""
    facts = []
    for entry in cards_of(doc):
        entry = dict(entry)
        if "card_id" in entry:
            entry["unfinished_change"] = entry.get("unfinished_change")
        facts.append(entry)
    return facts


def locations_of(changes):
    return [c["location"] for c in changes]


def protected_locations(card, locations):
    """Those of the locations that the card protects (+unlock writes them)."""
    span = card.get("protected")
    if not span:
        return []
    return [loc for loc in locations if span["first"] <= loc <= span["last"]]


def cell(location, value, word_bits):
    digits = 4 if word_bits == 16 else 8
    return "[0x%02X] = 0x%0*X" % (location, digits, value)


def diff_of(card, changes, image_name):
    """Diff mode's before and after: the differing locations in image
    syntax, headed with the card and the image."""
    bits = card.get("word_bits")
    label = "card " + card["label"]  # as the tools name it
    return {
        "before_header": label,
        "after_header": image_name,
        "before": "".join(cell(c["location"], c["before"], bits) + "\n" for c in changes),
        "after": "".join(cell(c["location"], c["after"], bits) + "\n" for c in changes),
    }


def changes_of_check(doc):
    """check's differences as the changes a load would make."""
    return [{"location": d["location"], "before": d["card"], "after": d["image"]}
            for d in doc.get("differences", [])]


def changes_of_load(doc):
    """load's changes as the task returns them: what was written."""
    return [{"location": c["location"], "before": c["before"], "after": c["after"]}
            for c in doc.get("changes", []) if c.get("written")]


def load_outcome(rc, doc, err):
    """(changed, None) when the load left the card matching the image, or
    (changed, message) when it did not: the task must then fail."""
    result = doc.get("result")
    written = bool(changes_of_load(doc))
    if rc == 0 and doc.get("verified") and result in MATCHING_RESULTS:
        return written, None
    messages = errors_of(doc) or [line for line in err.splitlines() if line.strip()]
    why = "; ".join(messages) or "sorvit-image load exited with status %s" % rc
    return written, "The card does not match the image (%s): %s" % (result or "failed", why)


def _protected_failure(card, changes):
    held = protected_locations(card, locations_of(changes))
    if not held:
        return None
    many = len(held) > 1
    return "Protected location%s %s differ%s from the image: set unlock to write %s" % (
        "s" if many else "", ", ".join("0x%02X" % loc for loc in held), "" if many else "s",
        "them" if many else "it")


def _golden_entry(entry, exists, save_missing, unlock):
    """One card of a +all check or list document, as golden_cards plans it."""
    card = entry.get("card") or (entry if "card_id" in entry else {})
    planned = {"card_id": card.get("card_id"), "label": card.get("label"),
               "file": entry.get("file"), "changes": []}
    error = (entry.get("error") or {}).get("message")
    if entry.get("skipped") or card.get("supported") is False:
        return None
    if error and card and not entry.get("unfinished_change") and entry.get("file") \
            and not exists(entry["file"]):
        error = None if save_missing else "no golden image %s" % entry["file"]
        if not error:
            return dict(planned, state="would_save")
    if error:
        return dict(planned, state="failed", msg=error,
                    label=planned["label"] or "index %s" % entry.get("index", "?"))
    if "differences" not in entry:  # a list document's card: it has no image yet
        return dict(planned, state="would_save" if save_missing else "failed",
                    msg=None if save_missing else "no golden image")
    changes = changes_of_check(entry)
    held = None if unlock else _protected_failure(card, changes)
    if held:
        return dict(planned, state="failed", msg=held, changes=changes)
    return dict(planned, state="would_load" if changes else "matched", changes=changes)


def golden_plan(doc, exists, save_missing, unlock, folder=None):
    """What golden_cards does with each card of a +all check document (or,
    for a folder not made yet, of a list document, with folder): the
    entries and the diff of each card that would be loaded."""
    entries = []
    if doc.get("action") == "list":
        for entry in cards_of(doc):
            if "card_id" in entry:
                name = "%s%d.img" % (CARD_IMAGE_PREFIX, entry["card_id"])
                entry = dict(entry, file=os.path.join(folder, name))
            entries.append(entry)
    else:
        entries = cards_of(doc)
    plan = [p for p in (_golden_entry(e, exists, save_missing, unlock) for e in entries) if p]
    if doc.get("error"):
        plan.append({"card_id": None, "label": doc.get("folder") or folder, "file": None,
                     "changes": [], "state": "failed", "msg": doc["error"].get("message")})
    diffs = [diff_of(e.get("card") or {}, changes_of_check(e), e["file"]) for e in entries
             if e.get("differences")]
    return plan, diffs
