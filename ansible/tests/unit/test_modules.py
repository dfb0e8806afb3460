"""The modules' own decisions, against canned sorvit-image documents: when a
task writes, fails or reports ok, and what it returns."""
import json
import os
import re

import pytest


def document(action, **members):
    return dict(format_version=1, tool={"name": "sorvit-image", "version": "5.0.0"},
                action=action, **members)


CARD = {"card_id": 101, "label": "101(0x65)", "board_type": 0, "word_bits": 16, "supported": True,
        "protected": {"first": 0, "last": 42}}
AT_0x30 = {"location": 48, "card": 1, "image": 0x7F4D}
AT_0x05 = {"location": 5, "card": 0xA0, "image": 1}


def check(*differences):
    return document("check", card=CARD, file="g.img", matches=not differences,
                    locations_checked=64, differences=list(differences))


def load(result, verified, written=True, **more):
    change = {"location": 48, "before": 1, "after": 0x7F4D, "protected": False,
              "written": written}
    return document("load", card=CARD, file="g.img", changes=[change], verified=verified,
                    result=result, **more)


WRITTEN = (0, load("written", True), "")
UNFINISHED = ("Card 101(0x65) has an unfinished change: load of g.img by root at 2026-12-09 "
              "10:41:02 UTC, 17 of 64 locations written; `sorvit-image /card 101 recover` "
              "finishes it, `sorvit-image /card 101 undo` restores what the card held")
FAILED = (255, document("check", error={"message": "Failed to open card with ID 101: gone"}), "")

CASES = [
    # name, module args, replies by action, check mode,
    # then failed, changed, text in msg, the actions run
    ("matches: ok, nothing written", {}, {"check": (0, check(), "")}, False,
     False, False, None, ["check"]),
    ("differs: written", {}, {"check": (1, check(AT_0x30), ""), "load": WRITTEN}, False,
     False, True, None, ["check", "load"]),
    ("chosen by index: written to the card checked, by its ID", {"card_id": None, "index": 3},
     {"check": (1, check(AT_0x30), ""), "load": WRITTEN}, False, False, True, None,
     ["check", "load"]),
    ("check mode: predicted, nothing written", {"backup": True},
     {"check": (1, check(AT_0x30), "")}, True, False, True, None, ["check"]),
    ("a change cut short: fails naming recover and undo, nothing written", {},
     {"check": (255, document("check", card=CARD, file="g.img", error={"message": UNFINISHED}),
                "")}, False, True, False, "`sorvit-image /card 101 undo`", ["check"]),
    ("protected without unlock: fails before writing", {},
     {"check": (1, check(AT_0x05, AT_0x30), "")}, False, True, False, "0x05", ["check"]),
    ("protected with unlock: written", {"unlock": True},
     {"check": (1, check(AT_0x05), ""), "load": WRITTEN}, False, False, True, None,
     ["check", "load"]),
    ("written but not read back: fails", {},
     {"check": (1, check(AT_0x30), ""),
      "load": (255, load("failed", False, error={"message": "0x30 reads back 0x0001"}), "")},
     False, True, True, "reads back", ["check", "load"]),
    ("another process wrote meanwhile: fails", {},
     {"check": (1, check(AT_0x30), ""),
      "load": (1, load("changed_meanwhile", False), "EEPROM location 0x31 changed to 0x0\n")},
     False, True, True, "0x31 changed", ["check", "load"]),
    ("write failed before any location: fails, nothing changed", {},
     {"check": (1, check(AT_0x30), ""),
      "load": (255, load("failed", False, written=False, error={"message": "write fault"}), "")},
     False, True, False, "write fault", ["check", "load"]),
    ("the card fails", {}, {"check": FAILED}, False, True, False, "Failed to open", ["check"]),
    ("no document", {}, {"check": (255, "", "Unknown option +json\n")}, False, True, False,
     "Unknown option +json", ["check"]),
    ("a newer format", {}, {"check": (0, dict(check(), format_version=2), "")}, False, True,
     False, "format 2", ["check"]),
    ("backup, then written", {"backup": True},
     {"check": (1, check(AT_0x30), ""), "save": (0, document("save"), ""), "load": WRITTEN},
     False, False, True, None, ["check", "save", "load"]),
    ("backup fails: nothing written", {"backup": True},
     {"check": (1, check(AT_0x30), ""),
      "save": (255, document("save", error={"message": "disk full"}), "")},
     False, True, False, "disk full", ["check", "save"]),
    ("backup with locations and no backup_dir", {"backup": True, "path": None,
                                                 "locations": {"48": 1}},
     {}, False, True, False, "backup_dir", []),
    ("locations out of range", {"path": None, "locations": {"0x40": 1}}, {}, False, True,
     False, "out of range", []),
]


@pytest.mark.parametrize("name, args, replies, check_mode, failed, changed, msg, actions", CASES,
                         ids=[c[0] for c in CASES])
def test_card_image(run_module, tmp_path, name, args, replies, check_mode, failed, changed,
                    msg, actions):
    from ansible_collections.sorvit.cards.plugins.modules import card_image

    task = dict({"card_id": 101, "path": str(tmp_path / "g.img")}, **args)
    task = {k: v for k, v in task.items() if v is not None}
    got_failed, result, calls = run_module(card_image.main, task, replies, check_mode)
    assert got_failed == failed, result
    assert result.get("changed", False) == changed
    if msg:
        assert msg in result["msg"]
    assert [next(a for a in ("save", "check", "load") if a in c) for c in calls] == actions
    chosen = ["/index", "3"] if "index" in task else ["/card", "101"]
    for n, call in enumerate(calls):
        selection = chosen if n == 0 else ["/card", "101"]
        assert call[0] == "+json" and call[-4:-2] == selection
    if "load" in actions:
        load_call = calls[actions.index("load")]
        assert "+f" in load_call and ("+unlock" in load_call) == bool(args.get("unlock"))
    if "save" in actions:  # beside the image, before the load
        backup = calls[actions.index("save")][-1]
        assert os.path.dirname(backup) == str(tmp_path)
        assert os.path.basename(backup).startswith("card-101.")
        assert result.get("backup_file") == (None if failed else backup)


def test_card_image_locations_diff_and_index(run_module):
    from ansible_collections.sorvit.cards.plugins.modules import card_image

    failed, result, calls = run_module(
        card_image.main, {"index": 2, "locations": {"48": "0x7F4D", "0x31": 5}},
        {"check": (1, check(AT_0x30), "")}, check_mode=True, diff=True)
    assert not failed and result["changed"]
    assert calls[0][1:3] == ["/index", "2"]
    with open(calls[0][-1]) as image:
        assert image.read().splitlines()[1:] == ["[0x30] = 0x7F4D", "[0x31] = 0x0005"]
    assert result["diff"] == {"before_header": "card 101(0x65)",
                              "after_header": "locations of the task",
                              "before": "[0x30] = 0x0001\n", "after": "[0x30] = 0x7F4D\n"}
    assert result["changes"] == [{"location": 48, "before": 1, "after": 0x7F4D}]
    assert result["card"] == {"card_id": 101, "board_type": 0, "word_bits": 16}


@pytest.mark.parametrize("locations, error", [
    ({"48": 1, "0x31": "0xFFFFFFFF", 50: "7"}, None),
    ({}, "is empty"),
    ({"64": 1}, "out of range"),
    ({"-1": 1}, "out of range"),
    ({"48": 1, "0x30": 2}, "given twice"),
    ({"forty": 1}, "not a number"),
    ({"48": "0x100000000"}, "does not fit"),
    ({"48": -1}, "does not fit"),
    ({"48": True}, "not a number"),
    ({"48": "12ab"}, "not a number"),
    # Only what the tools take: no digit separators, no other bases or scripts.
    ({"48": "0x1_0"}, "not a number"),
    ({"48": "0b1010"}, "not a number"),
    ({"48": "\u0663"}, "not a number"),
    ({"\u0663": 1}, "not a number"),
])
def test_locations(locations, error):
    from ansible_collections.sorvit.cards.plugins.module_utils.sorvit_image import (
        parse_locations)

    if error is None:
        assert parse_locations(locations) == {48: 1, 49: 0xFFFFFFFF, 50: 7}
    else:
        with pytest.raises(ValueError, match=error):
            parse_locations(locations)


LISTED = [{"index": 0, "card_id": 0, "board_type": 12, "word_bits": 32, "supported": True,
           "protected": None}]


FAILED_INDEX = {"index": 1, "error": {"message": "open fault"}}


@pytest.mark.parametrize("reply, args, failed, msg", [
    ((0, document("list", cards=LISTED), ""), {}, False, None),
    # Partial facts: the cards that could be read, the failed index, a warning.
    ((255, document("list", cards=LISTED + [FAILED_INDEX]), ""), {}, False, "open fault"),
    ((255, document("list", cards=LISTED + [FAILED_INDEX]), ""), {"fail_on_error": True}, True,
     "open fault"),
    ((255, "", "cannot run\n"), {}, True, "cannot run"),
])
def test_card_facts(run_module, reply, args, failed, msg):
    check_card_facts(run_module, reply, args, failed, msg)


def test_card_facts_report_an_unfinished_change(run_module):
    from ansible_collections.sorvit.cards.plugins.modules import card_facts

    change = {"tool": "sorvit-image", "action": "load", "user": "root", "uid": 0,
              "time": "2026-12-09T10:41:02Z", "run": "r", "locations": 64, "locations_written": 17}
    cards = [dict(LISTED[0], unfinished_change=change)]
    failed, result = run_module(card_facts.main, {}, {"list": (0, document("list", cards=cards),
                                                               "")})[:2]
    assert not failed
    assert result["ansible_facts"]["sorvit_cards"][0]["unfinished_change"] == change


def check_card_facts(run_module, reply, args, failed, msg):
    from ansible.module_utils.common.warnings import get_warning_messages
    from ansible_collections.sorvit.cards.plugins.modules import card_facts

    got_failed, result = run_module(card_facts.main, args, {"list": reply})[:2]
    assert got_failed == failed
    if msg:
        assert msg in (result["msg"] if failed else get_warning_messages()[-1])
    if isinstance(reply[1], dict):  # the cards as listed, even when one failed
        cards = result["ansible_facts"]["sorvit_cards"]
        assert [{k: v for k, v in c.items() if k != "unfinished_change"} for c in cards] == \
            reply[1]["cards"]
        # Each card says whether a change of it was cut short.
        assert all(c["unfinished_change"] is None for c in cards if "card_id" in c)
        assert not result.get("changed")
        assert re.fullmatch(r"\d{4}-\d\d-\d\d", result["ansible_facts"]["sorvit_date"])


def all_check(*entries, **more):
    return document("check", all=True, folder="/g", cards=list(entries), **more)


def golden(card_id, **members):
    card = dict(CARD, card_id=card_id, label="%d(0x%x)" % (card_id, card_id))
    return dict({"index": 0, "card": card, "file": "/g/card-%d.img" % card_id}, **members)


MATCHED = golden(101, matches=True, locations_checked=64, differences=[])
DRIFTED = golden(101, matches=False, locations_checked=64, differences=[AT_0x30])
NO_IMAGE = golden(102, error={"message": "Cannot read image file /g/card-102.img: No such file"})
READ_FAULT = golden(103, error={"message": "Failed to read 1 of 64 EEPROM locations"})
ORPHAN = {"file": "/g/card-7.img", "error": {"message": "/g/card-7.img: no card with ID 7"}}

GOLDEN_CASES = [
    # name, module args, replies by action, check mode,
    # then failed, changed, text in msg, states of the cards, the actions run
    ("all match: ok", {}, {"check": (0, all_check(MATCHED), "")}, False,
     False, False, None, ["matched"], ["check"]),
    ("a drifted card is loaded", {}, {"check": (1, all_check(MATCHED, DRIFTED), ""),
                                      "load": WRITTEN}, False,
     False, True, None, ["matched", "loaded"], ["check", "load"]),
    ("check mode: nothing written", {"save_missing": True},
     {"check": (255, all_check(DRIFTED, NO_IMAGE), "")}, True,
     False, True, None, ["would_load", "would_save"], ["check"]),
    ("a card without its image is saved", {"save_missing": True},
     {"check": (255, all_check(NO_IMAGE), ""), "save": (0, document("save"), "")}, False,
     False, True, None, ["saved"], ["check", "save"]),
    ("a card without its image fails without save_missing", {},
     {"check": (255, all_check(NO_IMAGE), "")}, False,
     True, False, "no golden image", ["failed"], ["check"]),
    ("a faulty card and an image without its card fail; the drifted card is kept", {},
     {"check": (255, all_check(DRIFTED, READ_FAULT, ORPHAN), ""), "load": WRITTEN}, False,
     True, True, "no card with ID 7", ["loaded", "failed", "failed"], ["check", "load"]),
    ("a faulty card with its image is never saved over it", {"save_missing": True},
     {"check": (255, all_check(READ_FAULT), "")}, False,
     True, False, "Failed to read", ["failed"], ["check"]),
    ("a change cut short fails naming recover and undo", {},
     {"check": (255, all_check(golden(101, error={"message": UNFINISHED},
                                      unfinished_change={"run": "r"})), "")}, False,
     True, False, "recover", ["failed"], ["check"]),
    ("protected difference without unlock fails", {},
     {"check": (1, all_check(golden(101, matches=False, differences=[AT_0x05])), "")}, False,
     True, False, "0x05", ["failed"], ["check"]),
    ("a new folder: every card saved, as list finds them", {"path": "/nonexistent/golden",
                                                            "save_missing": True},
     {"list": (0, document("list", cards=[dict(CARD)]), ""), "save": (0, document("save"), "")},
     False, False, True, None, ["saved"], ["list", "save"]),
]


@pytest.mark.parametrize("name, args, replies, check_mode, failed, changed, msg, states, actions",
                         GOLDEN_CASES, ids=[c[0] for c in GOLDEN_CASES])
def test_golden_cards(run_module, tmp_path, name, args, replies, check_mode, failed, changed, msg,
                      states, actions):
    from ansible_collections.sorvit.cards.plugins.modules import golden_cards

    (tmp_path / "g").mkdir()
    for card_id in (101, 103):  # the golden images there are
        (tmp_path / "g" / ("card-%d.img" % card_id)).write_text("")
    task = dict({"path": str(tmp_path / "g")}, **args)
    replies = {k: (s, d, e) if isinstance(d, str) else
               (s, json.loads(json.dumps(d).replace('"/g', '"%s' % (tmp_path / "g"))), e)
               for k, (s, d, e) in replies.items()}
    got_failed, result, calls = run_module(golden_cards.main, task, replies, check_mode, diff=True)
    assert got_failed == failed, result
    assert result.get("changed", False) == changed
    if msg:
        assert msg in result["msg"]
    assert [e["state"] for e in result["cards"]] == states
    assert [next(a for a in ("list", "save", "check", "load") if a in c) for c in calls] == actions
    for call in calls[1:]:  # each card by its ID, with +f for a load
        assert call[call.index("/card") + 1] in ("101", "102") and ("load" not in call or "+f" in call)
