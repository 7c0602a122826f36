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
