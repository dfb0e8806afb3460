"""Makes the collection importable as ansible_collections.sorvit.cards, as
an installed collection is, and runs a module's main() with canned
sorvit-image documents in place of the tool."""
import json
import os
import sys

import pytest

COLLECTION = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


@pytest.fixture(scope="session", autouse=True)
def collection_path(tmp_path_factory):
    root = tmp_path_factory.mktemp("collections")
    (root / "ansible_collections" / "sorvit").mkdir(parents=True)
    os.symlink(COLLECTION, str(root / "ansible_collections" / "sorvit" / "cards"))
    sys.path.insert(0, str(root))


class ModuleExit(Exception):
    def __init__(self, failed, result):
        super().__init__(result.get("msg"))
        self.failed = failed
        self.result = result


@pytest.fixture
def run_module(monkeypatch, tmp_path):
    """run_module(main, args, replies) -> (failed, result, calls): replies
    maps an action to (status, document or raw text, standard error)."""
    from ansible.module_utils import basic

    def run(main, args, replies, check_mode=False, diff=False):
        calls = []

        def run_command(self, argv, **kwargs):
            calls.append(argv[1:])
            action = next(a for a in ("list", "save", "check", "load") if a in argv)
            status, doc, err = replies[action]
            return status, doc if isinstance(doc, str) else json.dumps(doc), err

        module_args = dict(args, _ansible_check_mode=check_mode, _ansible_diff=diff,
                           _ansible_tmpdir=str(tmp_path))
        monkeypatch.setattr(basic, "_ANSIBLE_ARGS",
                            json.dumps({"ANSIBLE_MODULE_ARGS": module_args}).encode())
        monkeypatch.setattr(basic.AnsibleModule, "run_command", run_command)
        monkeypatch.setattr(basic.AnsibleModule, "get_bin_path",
                            lambda self, name, required=False: "/usr/bin/" + name)

        def leave(failed):
            def exit_(self, **result):
                raise ModuleExit(failed, result)
            return exit_

        monkeypatch.setattr(basic.AnsibleModule, "exit_json", leave(False))
        monkeypatch.setattr(basic.AnsibleModule, "fail_json", leave(True))
        with pytest.raises(ModuleExit) as e:
            main()
        return e.value.failed, e.value.result, calls

    return run
