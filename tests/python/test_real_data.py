"""The bundled recordings and the search order of the real-data fixtures."""

import gzip

from conftest import BUNDLED_DATA, real_file

LIMIT_BYTES = 15 * 1000 * 1000


def bundled_names():
    """Path under the shared data folder -> bundled file, for every bundled recording."""
    names = {}
    for path in BUNDLED_DATA.rglob("*"):
        if path.is_file() and path.name != "README.md":
            relative = path.relative_to(BUNDLED_DATA).as_posix()
            names[relative.removesuffix(".gz")] = path
    return names


def test_search_order(tmp_path, monkeypatch):
    chosen = tmp_path / "nav" / "SEPT2650.21P"
    chosen.parent.mkdir()
    chosen.write_text("chosen\n")
    monkeypatch.setenv("VARDOLN_TEST_DATA", str(tmp_path))
    assert real_file("nav/SEPT2650.21P") == chosen
    # A name missing there is looked up further on: the bundle has this one gzip-compressed.
    monkeypatch.setenv("VARDOLN_NO_SHARED_DATA", "1")
    assert real_file("obs3/SEPT265G.21O") == BUNDLED_DATA / "obs3" / "SEPT265G.21O.gz"
    monkeypatch.setenv("VARDOLN_TEST_DATA", str(tmp_path / "nonexistent"))
    assert real_file("nav/SEPT2650.21P") == BUNDLED_DATA / "nav" / "SEPT2650.21P"
    assert real_file("nav/nothing.21n") is None


def test_bundle_is_small_documented_and_true_to_the_originals(shared_data):
    names = bundled_names()
    assert sum(path.stat().st_size for path in names.values()) <= LIMIT_BYTES
    readme = (BUNDLED_DATA / "README.md").read_text(encoding="utf-8")
    for relative, path in sorted(names.items()):
        assert f"| {relative} |" in readme, f"{relative} has no provenance row"
        data = path.read_bytes()
        if path.suffix == ".gz":
            data = gzip.decompress(data)
        assert data == (shared_data / relative).read_bytes(), relative
