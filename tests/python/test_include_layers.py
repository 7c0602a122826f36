"""scripts/check_includes.py: the layer map of src/ and the failures it must name."""

import runpy
import subprocess
import sys
from pathlib import Path
from types import SimpleNamespace

import pytest

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "check_includes.py"


def load_checker() -> SimpleNamespace:
    """The script's functions, run from its file (scripts/ is no package)."""
    return SimpleNamespace(**runpy.run_path(str(SCRIPT)))


def write_tree(root: Path, files: dict[str, str]) -> Path:
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return root


def test_the_source_tree_passes():
    result = subprocess.run([sys.executable, str(SCRIPT)], capture_output=True, text=True, check=False)
    assert (result.returncode, result.stderr) == (0, "")


@pytest.mark.parametrize(
    ("files", "expected"),
    [
        # downward, same-folder and system includes are all fine
        (
            {
                "cn0/a.cpp": '#include "cn0/a.hpp"\n#include "visibility/v.hpp"\n'
                '#include "rinex/r.hpp"\n#include <vector>\n',
                "visibility/v.hpp": '#include "navigation/n.hpp"\n#include "local.hpp"\n',
            },
            [],
        ),
        (
            {"rinex/r.hpp": '\n#include "navigation/n.hpp"\n'},
            ["rinex/r.hpp:2: rinex includes navigation, a higher layer"],
        ),
        (
            {"visibility/v.hpp": '#  include "cn0/result.hpp"\n'},
            ["visibility/v.hpp:1: visibility includes cn0, a higher layer"],
        ),
        (
            {"qc/q.cpp": '#include "arrays/t.hpp"\n', "arrays/t.hpp": '#include "qc/q.hpp"\n'},
            ["include cycle between folders: arrays -> qc (arrays/t.hpp:1), qc -> arrays (qc/q.cpp:1)"],
        ),
        (
            {"gui/w.cpp": "", "rinex/r.cpp": '#include "plots/p.hpp"\n', "loose.cpp": ""},
            [
                "gui/w.cpp: folder 'gui' is missing from the layer map",
                "loose.cpp: source file outside a folder of the layer map",
                "rinex/r.cpp:1: includes 'plots', a folder missing from the layer map",
            ],
        ),
    ],
    ids=["clean", "upward", "spaced directive", "cycle", "unmapped"],
)
def test_checker_names_each_fault(tmp_path, files, expected):
    checker = load_checker()
    root = write_tree(tmp_path / "src", files)
    problems = [problem.replace(f"{root}/", "") for problem in checker.check(root)]
    assert sorted(problems) == sorted(expected)
    assert checker.main(["check_includes.py", str(root)]) == (1 if expected else 0)


@pytest.mark.parametrize(
    ("files", "expected"),
    [
        # downward and within a subpackage, absolute and relative, in functions and under
        # TYPE_CHECKING; the public face and a former path above everything
        (
            {
                "__init__.py": "from typing import TYPE_CHECKING\nfrom ._version import __version__\n"
                               "if TYPE_CHECKING:\n    from .tables.signals import stats\n",
                "__main__.py": "from .commands import main\n",
                "_version.py": "", "_native.pyi": "", "tables/__init__.py": "",
                "tables/signals.py": "import os\nfrom .. import _native\nfrom .._version import __version__\n",
                "judge/__init__.py": "", "judge/other.py": "from ..tables import signals\n",
                "judge/settings.py": "import vardoln_tools.tables.signals\n\n\ndef f():\n    from . import other\n",
                "commands/__init__.py": "from .cli import main\n",
                "commands/cli.py": "from vardoln_tools.judge.settings import f\n",
                "cli.py": "from .commands.cli import *\n",
            },
            [],
        ),
        (
            {
                "tables/a.py": "\n\ndef f():\n    from ..judge import b\n", "judge/b.py": "",
                "judge/c.py": "from typing import TYPE_CHECKING\nif TYPE_CHECKING:\n    from vardoln_tools import __version__\n",
            },
            [
                "tables/a.py:4: vardoln_tools.tables.a imports vardoln_tools.judge.b, a higher layer",
                "judge/c.py:3: vardoln_tools.judge.c imports vardoln_tools, a higher layer",
            ],
        ),
        (
            # the package's __init__ runs rows, which wants a name that __init__ has not made yet
            {"batch/__init__.py": "from .rows import Row\nLIMIT = 1\n", "batch/rows.py": "from . import LIMIT\n"},
            ["import cycle between modules: vardoln_tools.batch -> vardoln_tools.batch.rows (batch/__init__.py:1), "
             "vardoln_tools.batch.rows -> vardoln_tools.batch (batch/rows.py:1)"],
        ),
        (
            {"gui/w.py": "", "tables/t.py": "from ..widgets import draw\n"},
            [
                "gui/w.py: module 'gui' is missing from the layer map",
                "tables/t.py:1: imports vardoln_tools.widgets, a module missing from the layer map",
            ],
        ),
    ],
    ids=["clean", "upward", "cycle", "unmapped"],
)
def test_checker_names_each_python_fault(tmp_path, files, expected):
    checker = load_checker()
    root = write_tree(tmp_path / "vardoln_tools", files)
    problems = [problem.replace(f"{root}/", "") for problem in checker.check_python(root)]
    assert sorted(problems) == sorted(expected)
    assert checker.main(["check_includes.py", "--python", str(root)]) == (1 if expected else 0)
