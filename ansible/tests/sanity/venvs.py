"""Makes the environments that ansible-test sanity would install from PyPI,
from the system's own packages instead (venvs with system site packages,
the checkers from Debian's packages), where ansible-test looks for them:
under ~/.ansible/test/venv, named by the test and a hash of what it would
install, with the marker that says the environment is complete.
Usage: python3 venvs.py PYTHON_VERSION"""
import json
import os
import pathlib
import subprocess
import sys

from ansible_test._internal.commands.sanity import hash_pip_commands, sanity_get_tests
from ansible_test._internal.host_configs import NativePythonConfig
from ansible_test._internal.python_requirements import collect_requirements

version = sys.argv[1]
python = NativePythonConfig(version=version, path="/usr/bin/python%s" % version)
made = set()
for test in sanity_get_tests():
    commands = collect_requirements(python=python, controller=True, virtualenv=False, command=None,
                                    ansible=False, cryptography=False, coverage=False,
                                    minimize=False, sanity=test.name)
    label = "sanity.%s" % test.name if commands else "sanity"
    path = pathlib.Path.home() / ".ansible/test/venv" / label / version / hash_pip_commands(commands)
    if path in made:
        continue
    made.add(path)
    subprocess.run([python.path, "-m", "venv", "--system-site-packages", "--without-pip", str(path)],
                   check=True)
    (path / "meta.install.json").write_text(json.dumps([c.serialize() for c in commands], indent=4))
    (path / "meta.yaml.json").write_text(json.dumps(True))  # PyYAML with libyaml
    (path / "marker.txt").touch()
    print(label, path.name)
