"""sorvit-image +json as a script runs it: standard output holds one JSON
document, which its action's schema accepts, with what the card holds; the
exit status is the one the run has without +json. Every document these
tests get is validated."""
import json
import os
import pathlib
import subprocess

import jsonschema
import pytest

IMAGE = os.environ["SORVIT_IMAGE"]
SORVIT = os.environ["SORVIT"]
SCHEMAS = pathlib.Path(os.environ["SORVIT_SCHEMA_DIR"])


def load_schema(name):
    return json.loads((SCHEMAS / f"{name}.schema.json").read_text())


COMMON = load_schema("common")


def validator(action):
    """A validator that finds common.schema.json by its $id: through
    referencing where jsonschema has it (4.18 on), else RefResolver."""
    schema = load_schema(action)
    jsonschema.Draft202012Validator.check_schema(schema)
    try:
        from referencing import Registry, Resource
    except ImportError:
        resolver = jsonschema.RefResolver.from_schema(schema, store={COMMON["$id"]: COMMON})
        return jsonschema.Draft202012Validator(schema, resolver=resolver)
    registry = Registry().with_resource(COMMON["$id"], Resource.from_contents(COMMON))
    return jsonschema.Draft202012Validator(schema, registry=registry)


VALIDATORS = {a: validator(a) for a in ("list", "save", "check", "load", "recover", "undo",
                                        "history")}


def test_the_common_members_are_defined_once():
    """The members every document shares live in common.schema.json; an
    action's schema refers to them and never defines them again."""
    for name in ("tool", "error", "card_members", "location", "value", "index"):
        assert name in COMMON["$defs"], name
        for v in VALIDATORS.values():
            assert name not in v.schema["$defs"], name


def members_of(schema):
    """Every member name that a schema describes, at any depth."""
    names = set()
    if isinstance(schema, dict):
        for key, value in schema.items():
            if key == "properties":
                names |= set(value)
            names |= members_of(value)
    elif isinstance(schema, list):
        for value in schema:
            names |= members_of(value)
    return names


SCHEMA_MEMBERS = set().union(*(members_of(load_schema(a)) for a in
                               ("common", "list", "save", "check", "load", "recover", "undo",
                                "history", "version")))
MODULE_UTILS = SCHEMAS.parent / "ansible/plugins/module_utils/sorvit_image.py"


def test_the_renderer_names_exactly_the_schemas_members():
    """The JSON renderer's table of member names and the schemas agree
    both ways: no member written that no schema describes, none described
    that the renderer cannot write."""
    import re
    table = (SCHEMAS.parent / "cardtool/json_members.h").read_text()
    names = set(re.findall(r'^\s*M\([A-Z_]+, "([a-z_]+)"\)', table, re.M))
    assert names and names == SCHEMA_MEMBERS


def test_the_collection_reads_the_contract_from_the_schemas():
    """The collection's constants are those of the schemas, not copies that
    may drift: the format, the locations, the values, the load's results,
    and every member it reads of a document."""
    import re
    import runpy
    module = runpy.run_path(str(MODULE_UTILS))
    defs = COMMON["$defs"]
    assert module["LOCATIONS"] == defs["location"]["maximum"] + 1
    assert module["MAX_VALUE"] == defs["value"]["maximum"]
    assert module["FORMAT_VERSION"] == defs["format_version"]["const"]
    results = load_schema("load")["$defs"]["result"]["properties"]["result"]["enum"]
    assert set(module["MATCHING_RESULTS"]) <= set(results)
    read = set(re.findall(r'(?:\.get\(|\[)"([a-z_]+)"', MODULE_UTILS.read_text()))
    assert read and read <= SCHEMA_MEMBERS, read - SCHEMA_MEMBERS


def test_the_collection_writes_cells_and_names_as_the_tools_do(bank, tmp_path):
    """The collection's image cells and card image names are the ones
    sorvit-image writes and reads."""
    import runpy
    module = runpy.run_path(str(MODULE_UTILS))
    folder = tmp_path / "images"
    status, doc, _ = bank.image("+all", "save", str(folder))
    assert status == 0
    for entry in doc["cards"]:
        if entry.get("skipped"):
            continue
        card = entry["card"]
        path = folder / (module["CARD_IMAGE_PREFIX"] + "%d.img" % card["card_id"])
        assert entry["file"] == str(path)
        cells = [line for line in path.read_text().splitlines() if line.startswith("[")]
        values = {int(c[1:5], 16): int(c.split("= ")[1], 16) for c in cells}
        assert cells == [module["cell"](loc, values[loc], card["word_bits"]) for loc in range(64)]


class Bank:
    """A bank of the test's own; without a file, the built-in bank."""

    def __init__(self, folder, text=None):
        self.folder = folder
        self.path = folder / "bank"
        if text is not None:
            self.path.write_text(text)

    def env(self):
        return dict(os.environ, VELQOR2_SIM_BANK=str(self.path),
                    SORVIT_STATE_DIR=str(self.folder / "state"),
                    SORVIT_RUNTIME_DIR=str(self.folder / "run"))

    def image(self, *args, reply=None):
        """Runs sorvit-image +json; returns (status, document, stderr)."""
        run = subprocess.run([IMAGE, "+json", *args], env=self.env(), input=reply,
                             capture_output=True, text=True, timeout=60)
        doc = json.loads(run.stdout)  # the whole of standard output: one document
        VALIDATORS[doc["action"]].validate(doc)
        assert doc["format_version"] == 1
        assert doc["tool"] == {"name": "sorvit-image", "version": "5.0.0"}
        return run.returncode, doc, run.stderr

    def sorvit(self, *args):
        subprocess.run([SORVIT, *args], env=self.env(), check=True, capture_output=True)

    def sorvit_may_fail(self, *args):
        return subprocess.run([SORVIT, *args], env=self.env(), capture_output=True).returncode


@pytest.fixture
def bank(tmp_path):
    return Bank(tmp_path)


def card(text_id, board_type, bits, faults=""):
    lines = [f"[card]\nid = {text_id}\nboard_type = {board_type}\nword_bits = {bits}\n{faults}"]
    for row in range(0, 64, 8):
        width = 4 if bits == 16 else 8
        values = " ".join(f"{(0xC000 | loc) if bits == 16 else (0xAB000000 | loc << 8 | loc):0{width}X}"
                          for loc in range(row, row + 8))
        lines.append(f"0x{row:02X}: {values}\n")
    return "".join(lines)


def test_list_shows_the_four_default_cards(bank):
    status, doc, _ = bank.image("list")
    assert status == 0
    assert [(c["index"], c["card_id"], c["board_type"], c["word_bits"], c["supported"])
            for c in doc["cards"]] == [(0, 0, 12, 32, True), (1, 101, 0, 16, True),
                                       (2, 102, 25, 16, True), (3, 103, 20, None, False)]
    assert doc["cards"][1]["protected"] == {"first": 0, "last": 42}
    assert doc["cards"][0]["protected"] is None


def test_list_names_every_failed_index_and_a_run_without_cards(tmp_path):
    bank = Bank(tmp_path, card(1, 12, 32) + card(2, 0, 16, "fault = open\n") + card(3, 0, 16))
    status, doc, err = bank.image("list")
    assert status == 255
    assert [c["index"] for c in doc["cards"]] == [0, 1, 2]
    assert doc["cards"][1]["error"]["message"] == \
        "Failed to open card with index 1: simulated fault: open of card 2"
    assert doc["cards"][1]["error"]["message"] in err
    (tmp_path / "empty").mkdir()
    status, doc, err = Bank(tmp_path / "empty", "").image("list")
    assert status == 255 and doc["cards"] == []
    assert doc["error"]["message"].startswith("Failed to open card with index 0: no card at index 0")


def test_check_after_a_write_names_that_one_difference(bank, tmp_path):
    image = str(tmp_path / "a.img")
    status, doc, _ = bank.image("save", image)
    assert (status, doc["locations"], doc["card"]["card_id"]) == (0, 64, 0)
    status, doc, _ = bank.image("check", image)
    assert (status, doc["matches"], doc["differences"]) == (0, True, [])
    bank.sorvit("+f", "0x30", "0x1234")
    status, doc, _ = bank.image("check", image)
    assert status == 1
    assert doc["matches"] is False and doc["locations_checked"] == 64
    assert doc["differences"] == [{"location": 0x30, "card": 0x1234, "image": 0x800002E3}]


@pytest.mark.parametrize("args, reply, status, result, written", [
    (("+f",), None, 0, "written", [0x05]),
    ((), "n\n", 0, "aborted", []),
    ((), None, 255, "aborted", []),
    (("+f", "-unlock"), None, 1, "protected_left", []),
])
def test_load_reports_every_change_and_what_it_came_to(tmp_path, args, reply, status, result,
                                                        written):
    bank = Bank(tmp_path)
    image = str(tmp_path / "a.img")
    bank.image("/card", "101", "save", image)
    bank.sorvit("/card", "101", "+f", "+unlock", "5", "0x1111")
    unlock = () if "-unlock" in args else ("+unlock",)
    got, doc, _ = bank.image("/card", "101", *unlock, *args, "load", image, reply=reply)
    assert (got, doc["result"]) == (status, result)
    assert [c["location"] for c in doc["changes"]] == [0x05]
    assert doc["changes"][0]["before"] == 0x1111
    assert [c["location"] for c in doc["changes"] if c["written"]] == written
    assert doc["verified"] == (result in ("written", "protected_left"))
    got, doc, _ = bank.image("/card", "101", "+f", "+unlock", "load", image)
    assert (got, doc["result"]) == ((0, "already_matched") if result == "written"
                                    else (0, "written"))


def test_failures_are_members_at_their_level(tmp_path):
    bank = Bank(tmp_path, card(14, 12, 32, "fault = write\n"))
    image = tmp_path / "a.img"
    image.write_text("[0x30] = 0x1\n")
    status, doc, err = bank.image("/card", "14", "+f", "load", str(image))
    assert (status, doc["result"]) == (255, "failed")
    assert doc["error"]["message"].startswith("Failed to write EEPROM location 0x30")
    assert doc["error"]["message"] + "\n" == err
    status, doc, _ = bank.image("/card", "99", "check", str(image))
    assert status == 255 and "card" not in doc
    assert doc["error"]["message"] == f"Failed to open card with ID 99: no card with ID 99 in bank file {bank.path}"


def test_all_saves_checks_and_loads_every_supported_card(bank, tmp_path):
    folder = tmp_path / "images"
    status, doc, _ = bank.image("+all", "save", str(folder))
    assert status == 0 and doc["all"] is True and doc["folder"] == str(folder)
    assert sorted(p.name for p in folder.iterdir()) == ["card-0.img", "card-101.img", "card-102.img"]
    assert doc["cards"][3] == {"index": 3, "card": doc["cards"][3]["card"], "skipped": True}
    assert doc["cards"][3]["card"]["card_id"] == 103
    assert bank.image("+all", "check", str(folder))[0] == 0
    bank.sorvit("/card", "102", "+f", "0x30", "0x1")
    status, doc, _ = bank.image("+all", "check", str(folder))
    assert status == 1
    assert [c.get("matches") for c in doc["cards"]] == [True, True, False, None]
    status, doc, _ = bank.image("+all", "+f", "load", str(folder))
    assert status == 0
    assert [c.get("result") for c in doc["cards"]] == ["already_matched", "already_matched",
                                                       "written", None]


def test_all_goes_on_past_a_card_that_fails(tmp_path):
    text = card(0, 12, 32) + card(101, 0, 16) + card(102, 25, 16)
    bank = Bank(tmp_path, text)
    folder = tmp_path / "images"
    assert bank.image("+all", "save", str(folder))[0] == 0
    bank.path.write_text(text.replace("id = 101\n", "id = 101\nfault = open\n"))
    status, doc, _ = bank.image("+all", "check", str(folder))
    assert status == 255
    assert doc["cards"][1] == {"index": 1, "error": {
        "message": "Failed to open card with index 1: simulated fault: open of card 101"}}
    assert doc["cards"][2]["matches"] is True
    # The image of the card that did not open is not passed over.
    image = str(folder / "card-101.img")
    assert doc["cards"][3] == {"file": image, "error": {
        "message": image + ": no card with ID 101 on this host"}}
    status, doc, _ = bank.image("+all", "+f", "load", str(folder))
    assert status == 255
    assert [c.get("result") for c in doc["cards"]] == ["already_matched", None,
                                                       "already_matched", None]
    (folder / "card-102.img").unlink()
    status, doc, _ = bank.image("+all", "check", str(folder))
    assert doc["cards"][2]["error"]["message"].startswith("Cannot read image file")
    # Two cards that fail in a row keep each its own error.
    bank.path.write_text(text.replace("id = 0\n", "id = 0\nfault = read\n")
                         .replace("id = 101\n", "id = 101\nfault = open\n"))
    status, doc, _ = bank.image("+all", "check", str(folder))
    first = doc["cards"][0]["error"]["message"]
    assert first.startswith("   [0x00] = 0x????????\n") and first.endswith(
        "Failed to read 64 of 64 EEPROM locations: simulated fault: read of location 0x0 on card 0")
    assert doc["cards"][1]["error"]["message"] == \
        "Failed to open card with index 1: simulated fault: open of card 101"


FAULTS = [None, "open", "info", "read", "read 0x30", "write", "write 0x30"]


@pytest.mark.parametrize("fault", FAULTS)
@pytest.mark.parametrize("all_cards", [False, True])
@pytest.mark.parametrize("action", ["list", "save", "check", "load", "recover", "undo", "history"])
def test_every_document_validates(tmp_path, action, all_cards, fault):
    """Each action, for one card and for all, with each fault the simulator
    has; each step of a load meets a fault (the read before, the writes, the
    read back): the document of every run is one its schema accepts."""
    if action in ("list", "history") and all_cards:
        pytest.skip("+all does not go with " + action)
    text = card(0, 12, 32) + card(101, 0, 16)
    bank = Bank(tmp_path, text)
    folder = tmp_path / "images"
    assert bank.image("+all", "save", str(folder))[0] == 0
    bank.sorvit("/card", "101", "+f", "0x30", "0x1")  # so that a load writes
    if fault:
        bank.path.write_text(text.replace("id = 101\n", f"id = 101\nfault = {fault}\n"))
    where = [str(folder)] if all_cards else [str(folder / "card-101.img")]
    args = {"list": ["list"], "save": ["save", str(tmp_path / "new.img")],
            "check": ["check"] + where, "load": ["+f", "load"] + where, "recover": ["+f", "recover"],
            "undo": ["+f", "undo"], "history": ["history"]}[action]
    chosen = ["+all"] if all_cards else [] if action == "list" else ["/card", "101"]
    if action in ("recover", "undo"):  # a change of card 101, cut short after one write
        bank.path.write_text(bank.path.read_text().replace("id           = 101\n",
                                                           "id           = 101\nfault = cut 1\n"))
        bank.sorvit_may_fail("/card", "101", "+f", "+unlock", "0x05", "0x1")  # one whole change
        subprocess.run([IMAGE, "+f", "/card", "101", "load", str(folder / "card-101.img")],
                       env=bank.env(), capture_output=True)
        if fault:
            bank.path.write_text(text.replace("id = 101\n", f"id = 101\nfault = {fault}\n"))
        else:
            bank.path.write_text(bank.path.read_text().replace("fault = cut 1\n", ""))
    if action == "save" and all_cards:
        args = ["save", str(tmp_path / "again")]
    status, doc, _ = bank.image(*chosen, *args)  # validated there
    assert (status == 255) == bool(doc.get("error") or any(
        "error" in c for c in doc.get("cards", []))), doc


@pytest.mark.parametrize("cut", [0, 1, 40])
@pytest.mark.parametrize("way_out", ["recover", "undo"])
def test_a_change_cut_short_is_in_the_history(tmp_path, cut, way_out):
    """A load cut short by a power cut, then settled: its card's document
    names the unfinished change, and the history lists the change with the
    values before and after of what it wrote, and what it came to."""
    text = card(7, 12, 32)
    bank = Bank(tmp_path, text)
    old, new = tmp_path / "old.img", tmp_path / "new.img"
    assert bank.image("/card", "7", "save", str(old))[0] == 0
    new.write_text("".join(f"[0x{loc:02X}] = 0x{0xCD000000 | loc:08X}\n" for loc in range(64)))
    bank.path.write_text(text.replace("id = 7\n", f"id = 7\nfault = cut {cut}\n"))
    load = subprocess.run([IMAGE, "+f", "/card", "7", "load", str(new)], env=bank.env(),
                          capture_output=True)
    assert load.returncode == -9  # killed, as by a power cut
    bank.path.write_text(bank.path.read_text().replace(f"fault = cut {cut}\n", "")
                         .replace(f"fault        = cut 0x{cut:X}\n", ""))
    status, doc, _ = bank.image("/card", "7", "check", str(new))
    assert status == 255
    assert doc["unfinished_change"]["locations_written"] == cut
    assert doc["unfinished_change"]["action"] == "load"
    assert bank.image("/card", "7", "+f", way_out)[0] == 0
    status, doc, _ = bank.image("/card", "7", "history")
    assert status == 0 and doc["card_id"] == 7
    outcomes = [(c["action"], c["outcome"], len(c["changes"])) for c in doc["changes"]]
    settled = 64 if way_out == "recover" else cut
    assert outcomes == ([("load", "interrupted", cut)] if cut else []) + \
        ([(way_out, "written", settled)] if settled else [])
    if cut:
        first = doc["changes"][0]["changes"][0]
        assert (first["location"], first["before"], first["after"]) == (0, 0xAB000000, 0xCD000000)


def test_version_is_a_small_document(bank):
    run = subprocess.run([IMAGE, "+json", "/version"], capture_output=True, text=True)
    doc = json.loads(run.stdout)
    validator("version").validate(doc)
    assert (run.returncode, doc["tool"]["name"]) == (0, "sorvit-image")


def test_a_host_without_cards_gives_a_document_of_each_action(tmp_path):
    bank = Bank(tmp_path, "")
    for args in (["list"], ["+all", "check", str(tmp_path)], ["+all", "save", str(tmp_path)],
                 ["+all", "+f", "load", str(tmp_path)], ["check", str(tmp_path / "a.img")]):
        status, doc, _ = bank.image(*args)
        assert status == 255 and doc["error"]["message"], args


def test_names_that_are_not_utf8_are_written_as_replacement_characters(bank, tmp_path):
    folder = os.fsencode(tmp_path) + b"/x\xff\xfey"
    run = subprocess.run([IMAGE, "+json", "+all", "check", folder], env=bank.env(),
                         capture_output=True, timeout=60)
    doc = json.loads(run.stdout.decode("utf-8"))  # strict: no stray byte
    VALIDATORS["check"].validate(doc)
    assert doc["folder"].endswith("/x\ufffd\ufffdy")
    assert doc["error"]["message"].endswith("x\ufffd\ufffdy: No such file or directory")
    assert b"x\xff\xfey" in run.stderr  # the text keeps the name as it is


@pytest.mark.parametrize("args, message", [
    (("save", "-"), "+json does not go with save -: the image itself is the output there"),
    (("+all", "/card", "0", "check", "x"), "Do not specify /card or /index with +all"),
    (("+all", "list"), "+all goes with save, check, load, recover or undo"),
    (("+all", "history"), "+all does not go with history"),
    (("/index", "1", "history"), "Do not specify /index with history"),
])
def test_refused_before_any_document(bank, args, message):
    run = subprocess.run([IMAGE, "+json", *args], env=bank.env(), capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (255, "")
    assert run.stderr.startswith(message)
