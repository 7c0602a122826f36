"""The module paths of the flat package, kept for one release: each still imports, warns that it
moved, and gives the very objects of the module it moved to."""

import importlib
import sys

import pytest

import vardoln_tools

MOVED = {
    "assessment": "judge.assessment", "cli": "commands.cli", "navfiles": "batch.navigation",
    "observations": "tables.observations", "plot_data": "render.plot_data", "plots": "render.plots",
    "quality_control": "judge.quality_control", "report": "render.report", "roles": "tables.roles",
    "rowfiles": "batch.rowfiles", "selection": "judge.selection", "settings": "judge.settings",
    "signals": "tables.signals", "summary": "render.summary", "visibility": "tables.visibility",
    "workers": "batch.workers",
}


@pytest.mark.parametrize("old", MOVED)
def test_an_old_path_warns_and_gives_the_same_objects(monkeypatch, old):
    if old == "plots":
        pytest.importorskip("matplotlib")
    new = importlib.import_module(f"vardoln_tools.{MOVED[old]}")
    monkeypatch.delitem(sys.modules, f"vardoln_tools.{old}", raising=False)
    monkeypatch.delattr(vardoln_tools, old, raising=False)
    with pytest.warns(DeprecationWarning, match=rf"vardoln_tools\.{old} is deprecated: import "
                                                rf"vardoln_tools\.{MOVED[old]}$") as caught:
        shim = getattr(__import__("vardoln_tools", fromlist=[old]), old)  # from vardoln_tools import <old>
    assert [warning.filename for warning in caught] == [__file__]  # the importer is named, not the shim
    names = [name for name in vars(new) if not name.startswith("__")]
    assert names and all(getattr(shim, name) is getattr(new, name) for name in names)
